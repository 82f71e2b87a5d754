// Read-back of the controller's whole report: the time from the OK reply
// of AT+SHOW to the last value shown on a page, the engine's one-second
// pause taken out (its clock runs a million times faster). The controller
// is the simulated one on a pseudo-terminal; the window offscreen.
// Usage: bench_config_readback [runs]   (default 20)
#include "serial/ReceiveDispatcher.h"
#include "common/Clock.h"
#include "config/CPellCfgDlg.h"
#include "pages/CPellCfgDevDlg.h"
#include "pages/PageMap.h"
#include "pages/PageRouter.h"
#include "sim/Simulator.h"

#include <QApplication>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace pell;
using namespace pell::ui;

namespace {

// The configuration page, timing its page accesses.
class TimedCfgDlg : public CPellCfgDlg {
public:
    bool SetPageValue(int id, const std::string& text) override
    {
        const bool shown = CPellCfgDlg::SetPageValue(id, text);
        ++sets;
        if (shown)
            lastShownUs.store(monotonicUs());
        return shown;
    }
    bool GetPageValue(int id, std::string& text) override
    {
        ++gets;
        return CPellCfgDlg::GetPageValue(id, text);
    }
    void ShowControlState(int mode) override
    {
        if (mode == kControlsIdle)
            idleUs.store(monotonicUs());
        CPellCfgDlg::ShowControlState(mode);
    }
    std::atomic<int64_t> lastShownUs{0};
    std::atomic<int64_t> idleUs{0};
    std::atomic<int> sets{0};
    std::atomic<int> gets{0};
};

bool waitFor(const std::function<bool()>& done, int64_t timeoutMs)
{
    const int64_t end = monotonicMs() + timeoutMs;
    while (!done()) {
        if (monotonicMs() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

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
    if (!device.Start() || !theSerial.OpenPort(device.PortPath(), 115200, NOPARITY, 8, ONESTOPBIT)) {
        std::fprintf(stderr, "no simulated controller\n");
        return 1;
    }

    const ScaledClock noPause(1e6);
    CommandEngine engine(theSerial, systemClock(), &noPause);
    CPellCfgDlg::SetEngineForNewPages(&engine);
    TimedCfgDlg page;
    CPellCfgDevDlg basic;
    page.InitConfigPage();
    ReceiveDispatcher dispatcher(theSerial);
    dispatcher.SetConfigReceiver(page.ConfigReceiver());
    dispatcher.Start();

    // Into configuration mode and the first read-back (job 1).
    page.OnBnClickedReload();
    device.PowerOn();
    if (!waitFor([&] { return page.Controller().Worker().JobsRun() == 1 && page.JobState() == kJobIdle; }, 15000)) {
        std::fprintf(stderr, "the controller did not enter configuration mode\n");
        return 1;
    }

    std::vector<int64_t> shownUs, idleUs;
    int setsPerRun = 0, getsPerRun = 0;
    for (int run = 0; run < runs; ++run) {
        // Every control of the basic page shows something else, so the
        // read-back has values to show.
        for (int id : ParamsOfPage(CPellCfgDevDlg::kTemplateId))
            PageRouter::Instance().SetPageValue(id, "");
        page.sets = 0;
        page.gets = 0;
        okUs = 0;
        page.lastShownUs = 0;
        const int jobs = page.Controller().Worker().JobsRun();
        page.OnBnClickedLoadParams();
        if (!waitFor([&] { return page.Controller().Worker().JobsRun() == jobs + 1 && page.JobState() == kJobIdle; },
                     15000) || okUs == 0 || page.lastShownUs == 0) {
            std::fprintf(stderr, "read-back %d failed\n", run);
            return 1;
        }
        shownUs.push_back(page.lastShownUs - okUs);
        idleUs.push_back(page.idleUs - okUs);
        setsPerRun = page.sets;
        getsPerRun = page.gets;
    }
    dispatcher.Stop();
    page.Controller().Stop();
    theSerial.ClosePort();
    device.Stop();

    auto report = [runs](const char* name, std::vector<int64_t> v) {
        std::sort(v.begin(), v.end());
        int64_t sum = 0;
        for (int64_t x : v)
            sum += x;
        std::printf("%-40s runs %d  mean %7.2f ms  min %7.2f ms  median %7.2f ms  max %7.2f ms\n", name, runs,
                    static_cast<double>(sum) / static_cast<double>(v.size()) / 1000.0,
                    static_cast<double>(v.front()) / 1000.0, static_cast<double>(v[v.size() / 2]) / 1000.0,
                    static_cast<double>(v.back()) / 1000.0);
    };
    std::printf("Read-back of the full report (%d parameters, %d page values asked, %d offered), pause excluded\n",
                kLastParamId + 1, getsPerRun, setsPerRun);
    report("OK reply -> last page value shown", shownUs);
    report("OK reply -> job ended, page idle", idleUs);
    std::printf("target: last page value within 50 ms\n");
    return 0;
}
