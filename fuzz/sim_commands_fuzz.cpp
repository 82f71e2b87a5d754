// The simulated controller's command parser on arbitrary line bytes, split
// into command lines the way the device thread splits them (LF ends a line,
// CR before it is dropped, the command starts at "AT"). Every answer ends in
// one of the device's reply texts, the stored values stay values the device
// can hold, and the clock and record-query parsers only accept real times.
#include "fuzz/FuzzCheck.h"
#include "sim/ControllerModel.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace pell::sim;

bool endsWith(const std::string& s, const char* tail)
{
    const std::string t(tail);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

bool realTime(const DeviceTime& t)
{
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour < 0 || t.hour > 23 ||
        t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59)
        return false;
    // A date that exists comes back unchanged from its seconds.
    const DeviceTime back = FromSeconds(ToSeconds(t));
    return back.year == t.year && back.month == t.month && back.day == t.day &&
           back.hour == t.hour && back.minute == t.minute && back.second == t.second;
}

void checkParsers(const std::string& text)
{
    DeviceTime t;
    int weekday = -1;
    if (ParseClockText(text, t, weekday)) {
        FUZZ_CHECK(realTime(t));
        FUZZ_CHECK(weekday == Weekday(t));
    }
    DeviceTime from, to;
    if (ParseRecordQuery(text, from, to)) {
        FUZZ_CHECK(realTime(from));
        FUZZ_CHECK(realTime(to));
    }
}

const std::vector<CardRecord>& sampleRecords()
{
    static const std::vector<CardRecord> records = pell::sim::Simulator::SampleRecords(2026, 1, 4, 40);
    return records;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    ControllerModel model;
    model.SetRecords(sampleRecords());
    model.SetRecordsPerBatch(3);

    const std::string input(reinterpret_cast<const char*>(data), size);
    checkParsers(input);

    std::size_t start = 0;
    while (start < input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string::npos)
            break; // the device waits for the rest of the line
        std::string line = input.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t at = line.find("AT");
        if (at == std::string::npos)
            continue;
        const std::string command = line.substr(at);
        if (command.find('=') != std::string::npos)
            checkParsers(command.substr(command.find('=') + 1));

        const CommandReply reply = model.Execute(command);
        FUZZ_CHECK(endsWith(reply.text, kOkReply) || endsWith(reply.text, kErrorReply) ||
                   endsWith(reply.text, kLeaveReply));
        FUZZ_CHECK(reply.workMs >= 0);
        if (!reply.known)
            FUZZ_CHECK(reply.text == kErrorReply);
    }

    for (int id = 0; id < kParamCount; ++id) {
        const auto value = model.Param(id);
        FUZZ_CHECK(value.has_value());
        FUZZ_CHECK(value->size() <= kValueMax);
    }
    for (int i = 0; i < 4; ++i) {
        FUZZ_CHECK(model.CounterValue(i).size() <= 32);
        FUZZ_CHECK(model.SerialValue(i).size() <= 32);
    }
    return 0;
}
