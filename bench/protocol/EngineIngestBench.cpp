// Ingest cost of a long reply that arrives one byte per chunk: the engine's
// incremental recognition against a plain whole-buffer rescan after every
// chunk, on the same input in the same run.
//
//   build-*/bench/protocol/protocol_ingest_bench [bytes] [runs]
#include "protocol/CommandEngine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

using namespace pell;

namespace {

double CpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// An AT+SHOW style report of `bytes` bytes ending in the OK reply.
std::string MakeReport(std::size_t bytes)
{
    const std::string ok = "\r\nOK\r\n";
    std::string text = "\r\n";
    int row = 0;
    while (text.size() + ok.size() < bytes) {
        int id = ParamRowId(row % (ParamRowCount() - 1));
        std::string line = ParamRowLabel(row % (ParamRowCount() - 1));
        line.append(34 - std::min<std::size_t>(line.size(), 32), ' ');
        line += std::to_string(id * 7919 % 100000) + "\r\n";
        text += line;
        ++row;
    }
    text.resize(bytes - ok.size(), ' ');
    return text + ok;
}

// The reply buffer searched whole after every chunk, as simple as it gets.
struct PlainRescan {
    char buffer[CommandEngine::kReplyBufferSize];
    int length = 0;
    int result = 0;

    void onData(int n, const char* bytes)
    {
        if (length + n <= CommandEngine::kReplyTextMax) {
            std::memcpy(buffer + length, bytes, n);
            length += n;
        } else {
            std::memmove(buffer, buffer + length - 100, 100);
            std::memcpy(buffer + 100, bytes, n);
            length = 100 + n;
        }
        for (int i = 0; i < length; ++i)
            if (buffer[i] == '\0')
                buffer[i] = ' ';
        buffer[length] = '\0';
        if (std::strstr(buffer, "\r\nOK\r\n"))
            result = 1;
        if (std::strstr(buffer, "\r\nERROR\r\n"))
            result = 2;
    }
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t bytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 80000;
    int runs = argc > 2 ? std::atoi(argv[2]) : 21;
    if (bytes < 16 || bytes > static_cast<std::size_t>(CommandEngine::kReplyTextMax) || runs < 1) {
        std::fprintf(stderr, "usage: %s [bytes 16..%d] [runs]\n", argv[0], CommandEngine::kReplyTextMax);
        return 2;
    }
    const std::string report = MakeReport(bytes);

    // A port that is never opened: SendCommand prepares the engine for the
    // reply of AT+SHOW and returns, as it would after writing the line.
    CSerial port;
    ScaledClock clock(1e9);
    CommandEngine engine(port, clock);

    std::vector<double> engineMs;
    for (int r = 0; r < runs; ++r) {
        std::string text;
        engine.SendCommand(kIdShow, text);
        double t0 = CpuMs();
        for (char c : report)
            engine.OnCommandData(1, &c);
        engineMs.push_back(CpuMs() - t0);
        if (engine.ReplyResult() != kReplyOk || engine.ReplyLength() != static_cast<int>(bytes)) {
            std::fprintf(stderr, "engine did not recognise the reply\n");
            return 1;
        }
    }

    int plainRuns = std::max(1, std::min(runs, 3));
    std::vector<double> plainMs;
    auto plain = std::make_unique<PlainRescan>();
    for (int r = 0; r < plainRuns; ++r) {
        plain->length = 0;
        plain->result = 0;
        double t0 = CpuMs();
        for (char c : report)
            plain->onData(1, &c);
        plainMs.push_back(CpuMs() - t0);
        if (plain->result != 1) {
            std::fprintf(stderr, "plain rescan did not recognise the reply\n");
            return 1;
        }
    }

    double e = Median(engineMs);
    double p = Median(plainMs);
    std::printf("reply of %zu bytes, 1 byte per chunk (CPU time, median)\n", bytes);
    std::printf("  engine (incremental search): %10.3f ms over %d runs (min %.3f ms)  target <= 10 ms: %s\n",
                e, runs, *std::min_element(engineMs.begin(), engineMs.end()), e <= 10.0 ? "met" : "MISSED");
    std::printf("  plain whole-buffer rescan:   %10.3f ms over %d runs\n", p, plainRuns);
    std::printf("  ratio plain / engine:        %10.1f\n", p / e);
    return 0;
}
