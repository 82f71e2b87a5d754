// A history record query against the simulated controller on a line paced
// at 115,200 baud: 200 records in batches of 10 (one query and 19
// continuations). Prints the total time from the click to the end of job
// 13 against what the exchange must take: the wire time of every byte both
// ways (10 bits per byte) plus the engine's one-second pause after each of
// the 20 replies, and their ratio.
// Usage: bench_config_records [records] [per-batch] [baud]
#include "common/Clock.h"
#include "config/ConfigController.h"
#include "pages/HistoryRecords.h"
#include "serial/CSerial.h"
#include "serial/ReceiveDispatcher.h"
#include "sim/Simulator.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

using namespace pell;

namespace {

// The configuration page without a window: the boxes are remembered.
class QuietView : public IConfigView {
public:
    void AppendLog(std::string_view) override {}
    void ShowControlState(int) override {}
    bool SetPageValues(const std::vector<PageValue>&) override { return true; }
    PageReadings GetPageValues(const std::vector<int>&) override { return {}; }
    std::shared_ptr<HistoryRecords> Records() override { return records; }
    std::shared_ptr<HistoryRecords> records;
    void MessageBox(const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(m);
        last = text;
    }
    std::string Last()
    {
        std::lock_guard<std::mutex> lock(m);
        return last;
    }

private:
    std::mutex m;
    std::string last;
};

bool waitFor(const std::function<bool()>& condition, int64_t ms)
{
    const int64_t end = monotonicMs() + ms;
    while (!condition()) {
        if (monotonicMs() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 200;
    const int perBatch = argc > 2 ? std::atoi(argv[2]) : 10;
    const int baud = argc > 3 ? std::atoi(argv[3]) : 115200;
    if (count < 1 || perBatch < 1 || baud < 300) {
        std::fprintf(stderr, "usage: bench_config_records [records>=1] [per-batch>=1] [baud>=300]\n");
        return 2;
    }

    sim::Options options;
    options.loaderWindowMs = 100;
    options.configWindowMs = 3000;
    options.recordsPerBatch = perBatch;
    sim::Simulator device(options);
    std::atomic<std::size_t> wireBytes{0};
    std::atomic<bool> counting{false};
    device.SetObserver([&](sim::Traffic kind, const std::string& bytes) {
        if (kind != sim::Traffic::Event && counting.load())
            wireBytes += bytes.size();
    });
    if (!device.Start()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    std::vector<sim::CardRecord> records;
    for (int i = 0; i < count; ++i) {
        sim::CardRecord r;
        r.card = "3A00" + std::to_string(100000 + i);
        r.water = std::to_string(i % 97) + ".25";
        r.electricity = "12.5";
        r.duration = "35";
        r.price = "0.60";
        r.remainingWater = "1024.50";
        r.remainingMoney = "88.00";
        r.year = 2026, r.month = 1, r.day = 4 + i / 1440, r.hour = (i / 60) % 24, r.minute = i % 60;
        records.push_back(r);
    }
    device.SetRecords(records);

    CSerial port;
    if (!port.OpenPort(device.PortPath(), baud, NOPARITY, 8, ONESTOPBIT)) {
        std::fprintf(stderr, "cannot open %s\n", device.PortPath().c_str());
        return 1;
    }
    CommandEngine engine(port, systemClock());
    QuietView view;
    auto store = std::make_shared<HistoryRecords>();
    view.records = store;
    ConfigController controller(view, port, engine, [&](RequestSlot slot) -> RequestText* {
        return slot == RequestSlot::Records ? &store->request : nullptr;
    });
    store->request.SetObserver(&controller.Worker().RequestWatcher());
    ReceiveDispatcher dispatcher(port);
    dispatcher.SetConfigReceiver(&controller);
    dispatcher.Start();
    controller.Start();

    // "重新加载", power-up and job 1 (the read-back), as a technician does
    // before a query; the loop stands in for timer 111.
    controller.OnReloadButton();
    device.PowerOn();
    if (!waitFor([&] {
            controller.OnTimerTick();
            return controller.Worker().JobsRun() >= 1 && controller.JobState() == kJobIdle;
        }, 30000)) {
        std::fprintf(stderr, "the simulator did not enter configuration mode\n");
        return 1;
    }
    device.SetBaud(baud);
    counting = true;

    const int64_t start = monotonicUs();
    store->StartQuery("2026/1/1", "2026/12/31");
    const bool ended = waitFor([&] { return !store->QueryRunning(); }, 600000);
    const int64_t totalUs = monotonicUs() - start;
    counting = false;

    dispatcher.Stop();
    controller.Stop();
    store->request.SetObserver(nullptr);
    port.ClosePort();
    device.Stop();

    // One reply per batch; the last one ends with the end marker.
    const int batches = (count + perBatch - 1) / perBatch;
    const double wireMs = static_cast<double>(wireBytes.load()) * 10.0 * 1000.0 / baud;
    const double expectedMs = wireMs + 1000.0 * batches;
    const double totalMs = static_cast<double>(totalUs) / 1000.0;
    std::printf("records: %zu of %d in %d batches at %d baud, result %s\n", store->RecordCount(), count,
                batches, baud, !ended ? "(did not end)" : view.Last() == recordtext::kQueryOk ? "success" : "failure");
    std::printf("bytes on the wire (both ways): %zu\n", wireBytes.load());
    std::printf("wire time: %.1f ms; + %d x 1000 ms pause = %.1f ms required\n", wireMs, batches, expectedMs);
    std::printf("total time: %.1f ms; ratio total / required: %.3f\n", totalMs, totalMs / expectedMs);
    return ended && store->RecordCount() == static_cast<std::size_t>(count) ? 0 : 1;
}
