// Read-back of the controller's whole report: the time from the OK reply
// of AT+SHOW to the last value shown on a page, the engine's one-second
// pause taken out (its clock runs a million times faster). The controller
// is the simulated one on a pseudo-terminal; the window offscreen, its UI
// thread in an event loop that sleeps until something arrives, as in the
// application.
//
// Two rounds: quiet, then with every core kept busy by a spinning loop
// that the bench starts before the round and ends after it (each loop also
// ends by itself after kLoadBoundS, should the round run away). Each round
// also counts the blocking calls into the UI thread that a read-back and a
// save (with nothing edited) make.
//
// Usage: bench_config_readback [runs]   (default 20 per round)
#include "serial/ReceiveDispatcher.h"
#include "common/Clock.h"
#include "config/CPellCfgDlg.h"
#include "pages/CPellCfgDevDlg.h"
#include "pages/PageMap.h"
#include "pages/PageRouter.h"
#include "sim/Simulator.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace pell;
using namespace pell::ui;

namespace {

constexpr int kLoadBoundS = 120;

// The configuration page, timing its page accesses and counting them:
// each one is a blocking call into the UI thread.
class TimedCfgDlg : public CPellCfgDlg {
public:
    using CPellCfgDlg::CPellCfgDlg;
    bool SetPageValues(const std::vector<PageValue>& values) override
    {
        const bool shown = CPellCfgDlg::SetPageValues(values);
        ++crossings;
        if (shown)
            lastShownUs.store(monotonicUs());
        return shown;
    }
    PageReadings GetPageValues(const std::vector<int>& ids) override
    {
        ++crossings;
        return CPellCfgDlg::GetPageValues(ids);
    }
    void ShowControlState(int mode) override
    {
        if (mode == kControlsIdle)
            idleUs.store(monotonicUs());
        CPellCfgDlg::ShowControlState(mode);
    }
    std::atomic<int64_t> lastShownUs{0};
    std::atomic<int64_t> idleUs{0};
    std::atomic<int> crossings{0};
};

// Runs the UI thread's event loop until done() holds; false after timeoutMs.
bool waitFor(const std::function<bool()>& done, int64_t timeoutMs)
{
    const int64_t end = monotonicMs() + timeoutMs;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || monotonicMs() > end)
            loop.quit();
    });
    check.start(5);
    if (!done())
        loop.exec();
    return done();
}

// One spinning thread per core, started and ended here; each ends by itself
// after kLoadBoundS.
class BusyLoops {
public:
    explicit BusyLoops(unsigned count)
    {
        const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(kLoadBoundS);
        for (unsigned i = 0; i < count; ++i)
            threads_.emplace_back([this, bound] {
                ++running_;
                std::uint64_t spins = 0;
                while (!stop_.load(std::memory_order_relaxed)) {
                    if ((++spins & 0xFFFFF) == 0 && std::chrono::steady_clock::now() > bound) {
                        boundReached_ = true;
                        break;
                    }
                }
            });
        while (running_.load() < static_cast<int>(count))
            std::this_thread::yield();
    }
    ~BusyLoops() { End(); }
    // False when a loop ended by its bound before it was asked to.
    bool End()
    {
        stop_ = true;
        for (std::thread& t : threads_)
            if (t.joinable())
                t.join();
        return !boundReached_;
    }

private:
    std::vector<std::thread> threads_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> boundReached_{false};
    std::atomic<int> running_{0};
};

std::string loadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

struct Round {
    std::vector<int64_t> shownUs, idleUs;
    int readbackCrossings = 0;
    int saveCrossings = 0;
};

bool runJob(TimedCfgDlg& page, void (CPellCfgDlg::*button)())
{
    const int jobs = page.Controller().Worker().JobsRun();
    (page.*button)();
    return waitFor([&] { return page.Controller().Worker().JobsRun() == jobs + 1 && page.JobState() == kJobIdle; },
                   15000);
}

bool runRound(TimedCfgDlg& page, int runs, std::atomic<int64_t>& okUs, Round& round)
{
    for (int run = 0; run < runs; ++run) {
        // Every control of the basic page shows something else, so the
        // read-back has values to show.
        for (int id : ParamsOfPage(CPellCfgDevDlg::kTemplateId))
            page.Router().SetPageValue(id, "");
        page.crossings = 0;
        okUs = 0;
        page.lastShownUs = 0;
        if (!runJob(page, &CPellCfgDlg::OnBnClickedLoadParams) || okUs == 0 || page.lastShownUs == 0) {
            std::fprintf(stderr, "read-back %d failed\n", run);
            return false;
        }
        round.shownUs.push_back(page.lastShownUs - okUs);
        round.idleUs.push_back(page.idleUs - okUs);
        round.readbackCrossings = page.crossings;
    }
    // A save right after a read-back: nothing differs, nothing is sent.
    page.crossings = 0;
    if (!runJob(page, &CPellCfgDlg::OnBnClickedSaveParams)) {
        std::fprintf(stderr, "save failed\n");
        return false;
    }
    round.saveCrossings = page.crossings;
    return true;
}

void report(const char* name, std::vector<int64_t> v)
{
    std::sort(v.begin(), v.end());
    int64_t sum = 0;
    for (int64_t x : v)
        sum += x;
    std::printf("  %-36s mean %7.2f ms  min %7.2f ms  median %7.2f ms  max %7.2f ms\n", name,
                static_cast<double>(sum) / static_cast<double>(v.size()) / 1000.0,
                static_cast<double>(v.front()) / 1000.0, static_cast<double>(v[v.size() / 2]) / 1000.0,
                static_cast<double>(v.back()) / 1000.0);
}

void reportRound(const char* name, int runs, const Round& r)
{
    std::printf("%s, %d runs: %d UI crossings per read-back, %d per save\n", name, runs, r.readbackCrossings,
                r.saveCrossings);
    report("OK reply -> last page value shown", r.shownUs);
    report("OK reply -> job ended, page idle", r.idleUs);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const std::string loadBefore = loadAverage();

    sim::Options options;
    options.loaderWindowMs = 100;
    options.configWindowMs = 3000;
    sim::Simulator device(options);
    std::atomic<int64_t> okUs{0};
    device.SetObserver([&](sim::Traffic kind, const std::string& bytes) {
        if (kind == sim::Traffic::Sent && bytes.find("Modem's ID number:") != std::string::npos &&
            bytes.find("\r\nOK\r\n") != std::string::npos)
            okUs.store(monotonicUs());
    });
    CSerial port;
    if (!device.Start() || !port.OpenPort(device.PortPath(), 115200, NOPARITY, 8, ONESTOPBIT)) {
        std::fprintf(stderr, "no simulated controller\n");
        return 1;
    }

    const ScaledClock noPause(1e6);
    CommandEngine engine(port, systemClock(), &noPause);
    TimedCfgDlg page(nullptr, PageServices{port, engine, systemClock()});
    CPellCfgDevDlg basic(page.Router());
    page.InitConfigPage();
    ReceiveDispatcher dispatcher(port);
    dispatcher.SetConfigReceiver(page.ConfigReceiver());
    dispatcher.Start();

    // Into configuration mode and the first read-back (job 1).
    page.OnBnClickedReload();
    device.PowerOn();
    if (!waitFor([&] { return page.Controller().Worker().JobsRun() == 1 && page.JobState() == kJobIdle; }, 15000)) {
        std::fprintf(stderr, "the controller did not enter configuration mode\n");
        return 1;
    }

    Round quiet, loaded;
    bool ok = runRound(page, runs, okUs, quiet);
    const unsigned cores = std::max(2u, std::thread::hardware_concurrency());
    bool loadHeld = true;
    if (ok) {
        BusyLoops load(cores);
        ok = runRound(page, runs, okUs, loaded);
        loadHeld = load.End();
    }
    dispatcher.Stop();
    page.Controller().Stop();
    port.ClosePort();
    device.Stop();
    if (!ok)
        return 1;

    std::printf("Read-back of the full report (%d parameters), pause excluded; load average before: %s\n",
                kLastParamId + 1, loadBefore.c_str());
    reportRound("quiet", runs, quiet);
    reportRound(("loaded (" + std::to_string(cores) + " busy loops)").c_str(), runs, loaded);
    if (!loadHeld)
        std::printf("  (a busy loop reached its %d s bound before the round ended)\n", kLoadBoundS);
    std::printf("target: last page value within 20 ms (median) under load\n");
    return 0;
}
