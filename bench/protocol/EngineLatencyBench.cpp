// How soon a waiting SendCommand wakes after the controller's OK reply:
// the simulated controller on a pseudo-terminal, the receive dispatch
// thread feeding the engine, the pause after the reply set to zero.
//
//   build-*/bench/protocol/protocol_latency_bench [commands]
//
// The OK moment is taken when the simulator's write of the reply has
// returned (its observer), the wake moment when SendCommand returns.
#include "protocol/CommandEngine.h"
#include "sim/Simulator.h"
#include "tests/support/EngineRig.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace pell;

namespace {

class NoPause : public Clock {
public:
    std::chrono::microseconds duration(int) const override { return std::chrono::microseconds(0); }
};

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    std::size_t i = static_cast<std::size_t>(p * (v.size() - 1) + 0.5);
    return v[i];
}

} // namespace

int main(int argc, char** argv)
{
    int commands = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (commands < 1) {
        std::fprintf(stderr, "usage: %s [commands]\n", argv[0]);
        return 2;
    }
    sim::Options options;
    options.startPowered = true;
    options.autoPowerUp = true;
    options.loaderWindowMs = 100;
    sim::Simulator device(options);
    std::atomic<int64_t> okSentUs{0};
    device.SetObserver([&](sim::Traffic kind, const std::string& bytes) {
        if (kind == sim::Traffic::Sent && bytes.size() >= 6 &&
            bytes.compare(bytes.size() - 6, 6, "\r\nOK\r\n") == 0)
            okSentUs.store(monotonicUs());
    });
    if (!device.Start()) {
        std::fprintf(stderr, "the simulator could not start\n");
        return 1;
    }
    NoPause noPause;
    test::EngineRig rig(systemClock(), &noPause, 0);
    CommandEngine& engine = rig.engine;
    if (!rig.Attach(device.PortPath())) {
        std::fprintf(stderr, "cannot open %s\n", device.PortPath().c_str());
        return 1;
    }
    // Configuration mode, as the configuration page enters it.
    if (!rig.EnterConfiguration(std::chrono::seconds(10))) {
        std::fprintf(stderr, "the simulator did not enter configuration mode\n");
        return 1;
    }

    std::vector<double> wakeUs, roundUs;
    int failures = 0;
    for (int i = 0; i < commands; ++i) {
        okSentUs.store(0);
        std::string text;
        int64_t start = monotonicUs();
        int r = engine.SendCommand(kIdAt, text);
        int64_t woke = monotonicUs();
        if (r != 1) {
            ++failures;
            continue;
        }
        // The observer runs just after the device's write; wait for it.
        while (okSentUs.load() == 0 && monotonicUs() - woke < 1000000)
            std::this_thread::yield();
        wakeUs.push_back(static_cast<double>(woke - okSentUs.load()));
        roundUs.push_back(static_cast<double>(woke - start));
    }
    rig.Detach();
    device.Stop();
    if (wakeUs.empty()) {
        std::fprintf(stderr, "no command was answered\n");
        return 1;
    }
    std::printf("AT commands answered by the simulator: %zu of %d (pause excluded)\n", wakeUs.size(),
                commands);
    std::printf("  OK written -> SendCommand awake:  median %8.1f us   p99 %8.1f us   max %8.1f us\n",
                Percentile(wakeUs, 0.5), Percentile(wakeUs, 0.99),
                *std::max_element(wakeUs.begin(), wakeUs.end()));
    std::printf("  whole command (write to wake):    median %8.1f us   p99 %8.1f us\n",
                Percentile(roundUs, 0.5), Percentile(roundUs, 0.99));
    return failures == 0 ? 0 : 1;
}
