// Latency from a byte written at the far end of a pseudo-terminal to the
// consumer's receive call, through the port and the receive dispatcher.
// Usage: bench_dispatch_latency [count]   (default 10,000 single bytes)
#include "serial/ReceiveDispatcher.h"
#include "common/Clock.h"
#include "serial/CSerial.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace pell;

namespace {

class Consumer : public ITerminalReceiver {
public:
    bool IsReceiving() const override { return true; }
    void OnTerminalData(int length, const char*) override
    {
        arrivedUs.store(monotonicUs());
        received.fetch_add(length);
        arrived.set();
    }
    void NotifyReceiveUpdate() override {}
    std::atomic<int64_t> arrivedUs{0};
    std::atomic<int> received{0};
    Event arrived;
};

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    int master = -1, slave = -1;
    char name[256] = {};
    struct termios raw {};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    CSerial port;
    if (!port.OpenPort(name, 115200, NOPARITY, 8, ONESTOPBIT)) {
        std::fprintf(stderr, "cannot open %s\n", name);
        return 1;
    }
    Consumer consumer;
    ReceiveDispatcher dispatcher(port);
    dispatcher.SetTerminalReceiver(&consumer);
    dispatcher.Start();

    std::vector<double> latencies;
    latencies.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        consumer.arrived.reset();
        char byte = static_cast<char>(i);
        int64_t sent = monotonicUs();
        if (write(master, &byte, 1) != 1) {
            std::perror("write");
            return 1;
        }
        if (!consumer.arrived.waitFor(std::chrono::seconds(2))) {
            std::fprintf(stderr, "byte %d never arrived\n", i);
            return 1;
        }
        latencies.push_back(static_cast<double>(consumer.arrivedUs.load() - sent) / 1000.0);
    }
    dispatcher.Stop();
    port.ClosePort();
    close(master);
    close(slave);

    std::sort(latencies.begin(), latencies.end());
    auto pct = [&](double p) { return latencies[static_cast<std::size_t>(p * (latencies.size() - 1))]; };
    std::printf("dispatch latency over %d single bytes: median %.3f ms, p99 %.3f ms, max %.3f ms"
                " (target: median <= 1 ms)\n",
                count, pct(0.5), pct(0.99), latencies.back());
    return 0;
}
