#include "sim/ConfigDialogue.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace pell::sim {

namespace {

constexpr int kAutoRestartRun = 10; // 'S' bytes in a row that restart a device in configuration mode
constexpr std::size_t kLineMax = 1024;

// The report reply (report and OK) with the report faults applied.
std::string withReportFaults(const std::string& reply, const Faults& f)
{
    if (f.dropReportLines <= 0 && f.damageReportLine < 0)
        return reply;
    // The report is "\r\n" and one line per parameter, then the OK reply.
    std::vector<std::string> lines;
    std::size_t at = 2;
    const std::size_t end = reply.size() - std::string_view(kOkReply).size();
    while (at < end) {
        std::size_t next = reply.find("\r\n", at);
        if (next == std::string::npos || next >= end)
            next = end;
        else
            next += 2;
        lines.push_back(reply.substr(at, next - at));
        at = next;
    }
    const int total = static_cast<int>(lines.size());
    if (f.damageReportLine >= 0 && f.damageReportLine < total && !lines[f.damageReportLine].empty())
        lines[f.damageReportLine][0] = static_cast<char>(lines[f.damageReportLine][0] ^ 0x20);
    std::vector<bool> dropped(lines.size(), false);
    const int drop = std::min(f.dropReportLines, total);
    for (int k = 0; k < drop; ++k)
        dropped[static_cast<std::size_t>(static_cast<long>(k) * total / drop)] = true;
    std::string out = reply.substr(0, 2);
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (!dropped[i])
            out += lines[i];
    return out + kOkReply;
}

} // namespace

ConfigDialogue::ConfigDialogue(DeviceShared& shared, SimLine& line, DeviceHost& host, const Options& options)
    : shared_(shared), line_(line), host_(host)
{
    model_.SetRecordsPerBatch(options.recordsPerBatch);
    model_.SetEraseMs(options.eraseMs);
}

void ConfigDialogue::Reset()
{
    lineBuf_.clear();
    lineTooLong_ = false;
    sRun_ = 0;
}

void ConfigDialogue::Byte(uint8_t b)
{
    if (b == '\n') {
        std::string l = lineBuf_;
        bool tooLong = lineTooLong_;
        lineBuf_.clear();
        lineTooLong_ = false;
        sRun_ = 0;
        while (!l.empty() && l.back() == '\r')
            l.pop_back();
        handleLine(l, tooLong);
        return;
    }
    if (lineBuf_.empty() && !lineTooLong_) {
        // The tool's 'S' bytes that were on their way when the mode
        // started; a long run of them means it waits for a power-up.
        if (b == 'S') {
            if (host_.AutoPower() && ++sRun_ >= kAutoRestartRun)
                host_.RestartWith(b);
            return;
        }
        if ((b == 'B' || b == 'P') && host_.AutoPower()) {
            host_.RestartWith(b);
            return;
        }
    }
    sRun_ = 0;
    if (lineBuf_.size() >= kLineMax)
        lineTooLong_ = true;
    else
        lineBuf_.push_back(static_cast<char>(b));
}

void ConfigDialogue::handleLine(const std::string& l, bool tooLong)
{
    std::size_t at = l.find("AT");
    if (at == std::string::npos) {
        if (!l.empty())
            shared_.Tell("line ignored: " + l);
        return;
    }
    std::string command = l.substr(at);
    Faults f = shared_.FaultsNow();
    CommandReply reply;
    auto startsWithOne = [&](const std::vector<std::string>& prefixes) {
        return std::any_of(prefixes.begin(), prefixes.end(),
                           [&](const std::string& p) { return !p.empty() && command.rfind(p, 0) == 0; });
    };
    const bool forcedError = startsWithOne(f.errorFor);
    const bool both = startsWithOne(f.bothFor);
    {
        std::lock_guard<std::mutex> lock(shared_.m);
        commands_.push_back(command);
        if (forcedError || tooLong)
            reply.text = kErrorReply;
        else
            reply = model_.Execute(command);
    }
    shared_.Tell("command " + command + (forcedError ? " (error by fault)" : ""));
    if (f.echo)
        line_.Emit(l + "\r\n", SimLine::Out::Text);
    if (reply.workMs > 0 && !line_.Nap(reply.workMs))
        return;
    for (const auto& [prefix, ms] : f.lateFor) {
        if (prefix.empty() || command.rfind(prefix, 0) != 0)
            continue;
        if (!line_.LateNap(ms))
            return;
        break;
    }
    if (command == "AT+SHOW" && !forcedError && !tooLong)
        reply.text = withReportFaults(reply.text, f);
    if (both)
        reply.text = std::string(kErrorReply) + kOkReply;
    line_.Emit(f.preamble + reply.text, SimLine::Out::Reply);
    if (reply.restartAfter)
        host_.RestartSoon();
}

std::vector<std::string> ConfigDialogue::Commands() const
{
    std::lock_guard<std::mutex> lock(shared_.m);
    return commands_;
}

std::size_t ConfigDialogue::CommandCount() const
{
    std::lock_guard<std::mutex> lock(shared_.m);
    return commands_.size();
}

void ConfigDialogue::ClearCommands()
{
    std::lock_guard<std::mutex> lock(shared_.m);
    commands_.clear();
}

std::string ConfigDialogue::ReportWithFaults() const
{
    const Faults f = shared_.FaultsNow();
    std::string report;
    {
        std::lock_guard<std::mutex> lock(shared_.m);
        report = model_.Report();
    }
    const std::string reply = withReportFaults(report + kOkReply, f);
    return reply.substr(0, reply.size() - std::string_view(kOkReply).size());
}

std::vector<CardRecord> SampleCardRecords(int year, int month, int day, int count)
{
    std::vector<CardRecord> out;
    const int64_t end = ToSeconds(DeviceTime{year, month, day, 0, 0, 0});
    for (int i = 0; i < count; ++i) {
        // Spread over the 90 days up to the given day, the newest first.
        int64_t daysBack = count > 1 ? static_cast<int64_t>(i) * 89 / (count - 1) : 0;
        DeviceTime t = FromSeconds(end - daysBack * 86400);
        CardRecord r;
        r.year = t.year;
        r.month = t.month;
        r.day = t.day;
        r.hour = 6 + (i * 7) % 14;
        r.minute = (i * 13) % 60;
        r.second = (i * 29) % 60;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%08X", 0x3A7F1C00u + static_cast<unsigned>(i % 5) * 0x1357u);
        r.card = buf;
        double water = 5.0 + (i % 7) * 2.5;
        std::snprintf(buf, sizeof buf, "%.1f", water);
        r.water = buf;
        std::snprintf(buf, sizeof buf, "%.2f", water * 0.8);
        r.electricity = buf;
        r.duration = std::to_string(20 + (i * 7) % 90);
        r.price = "0.50";
        double remaining = 500.0 - i * 10.5;
        std::snprintf(buf, sizeof buf, "%.1f", remaining);
        r.remainingWater = buf;
        std::snprintf(buf, sizeof buf, "%.2f", remaining * 0.5);
        r.remainingMoney = buf;
        out.push_back(r);
    }
    return out;
}

} // namespace pell::sim
