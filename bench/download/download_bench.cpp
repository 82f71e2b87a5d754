// Firmware download against the simulated boot loader on a pseudo-terminal.
//
// 1. Unpaced (the simulator answers at once): total time of a 1,048,575-byte
//    download and the turnaround from an acknowledgement leaving the
//    simulator to the first byte of the next frame arriving there.
// 2. Paced at 115,200 baud (10 bits per byte): line efficiency =
//    (bytes on the wire x 10 / 115,200) / measured transfer time.
// Each is measured for the session as built (the worker wakes on the
// acknowledgement) and, for comparison, with the received chunks handed to
// it on a plain 20 ms polling tick. The paced figures come with a reference
// sender that writes the same bytes without ever waiting: the simulator's
// pacing has a slack of its own, and that run shows the ceiling it allows.
//
// Usage: download_bench [--runs N] [--no-paced] [--no-plain] [--no-reference] [--size BYTES]
#include "serial/ReceiveDispatcher.h"
#include "common/Clock.h"
#include "download/DownloadSession.h"
#include "serial/CSerial.h"
#include "sim/Simulator.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace pell;

namespace {

class NullView : public IDownloadView {
public:
    void LogAppended(const std::string& line, bool) override
    {
        if (line.find("error") != std::string::npos)
            errors.fetch_add(1);
    }
    void LogCleared() override {}
    void SetProgressRange(int) override {}
    void SetProgress(int) override {}
    void ShowActiveLook() override {}
    void ShowIdleLook() override {}
    void ShowThroughput(const TransferRate&) override {}
    void ClosePowerCyclePrompt() override {}
    void ShowPowerCyclePrompt() override {}
    void MessageBox(const std::string& text, const std::string&) override
    {
        std::fprintf(stderr, "message box: %s\n", text.c_str());
    }
    void ShowFileError(const std::string& path, int error, const std::string&) override
    {
        std::fprintf(stderr, "file error %d: %s\n", error, path.c_str());
    }
    std::atomic<int> errors{0};
};

// The plain approach for comparison: received chunks reach the session
// only on a 20 ms polling tick.
class PollingReceiver : public IDownloadReceiver {
public:
    explicit PollingReceiver(DownloadSession& session) : session_(session)
    {
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                std::deque<std::string> chunks;
                {
                    std::lock_guard<std::mutex> lock(m_);
                    chunks.swap(chunks_);
                }
                for (const auto& c : chunks)
                    session_.OnPortData(static_cast<int>(c.size()), c.data());
            }
        });
    }
    ~PollingReceiver() override
    {
        stop_.store(true);
        thread_.join();
    }
    bool IsDownloadActive() const override { return session_.IsDownloadActive(); }
    void OnPortData(int length, const char* bytes) override
    {
        if (length <= 0)
            return;
        std::lock_guard<std::mutex> lock(m_);
        chunks_.emplace_back(bytes, static_cast<size_t>(length));
    }

private:
    DownloadSession& session_;
    std::mutex m_;
    std::deque<std::string> chunks_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// What the simulator saw, with its own time stamps (device thread).
struct Probe {
    std::mutex m;
    int64_t acceptUs = 0;        // the device decided to accept a block (just before its 0x05 goes out)
    bool awaitingFrame = false;
    std::vector<double> turnaroundUs;
    int64_t goUs = 0;            // 0x06 read
    int64_t lastAckUs = 0;       // last 0x05 written
    size_t bytesIn = 0;          // from the 0x06 on
    size_t acks = 0;

    void Observe(sim::Traffic kind, const std::string& bytes)
    {
        const int64_t now = monotonicUs();
        std::lock_guard<std::mutex> lock(m);
        if (kind == sim::Traffic::Event) {
            if (bytes.find("bytes accepted") != std::string::npos)
                acceptUs = now;
        } else if (kind == sim::Traffic::Sent) {
            if (bytes == "\x05") {
                ++acks;
                lastAckUs = now;
                awaitingFrame = true;
            }
        } else if (kind == sim::Traffic::Received) {
            if (goUs == 0) {
                size_t go = bytes.find('\x06');
                if (go == std::string::npos)
                    return;
                goUs = now;
                bytesIn += bytes.size() - go;
                return;
            }
            bytesIn += bytes.size();
            if (awaitingFrame && !bytes.empty() && bytes[0] == '\x02') {
                turnaroundUs.push_back(static_cast<double>(now - acceptUs));
                awaitingFrame = false;
            }
        }
    }
};

struct Result {
    bool ok = false;
    double totalS = 0;     // button to idle page
    double transferS = 0;  // 0x06 read by the device to its last 0x05
    double wireBytes = 0;  // bytes on the line in that span
    std::vector<double> turnaroundUs;
};

std::string WriteImage(size_t size)
{
    std::string dir = (std::filesystem::temp_directory_path() / "pellbench-XXXXXX").string();
    if (!::mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    std::string path = dir + "/firmware.bin";
    std::string bytes(size, '\0');
    uint32_t x = 0x9E3779B9u;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<char>(x);
    }
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
    return path;
}

Result RunOnce(const std::string& image, size_t size, int baud, bool plainPolling)
{
    Result result;
    sim::Options options;
    options.autoPowerUp = true;
    options.baud = baud;
    sim::Simulator simulator(options);
    Probe probe;
    simulator.SetObserver([&probe](sim::Traffic k, const std::string& b) { probe.Observe(k, b); });
    if (!simulator.Start()) {
        std::fprintf(stderr, "simulator did not start\n");
        return result;
    }
    CSerial port;
    if (!port.OpenPort(simulator.PortPath(), 115200, NOPARITY, 8, ONESTOPBIT)) {
        std::fprintf(stderr, "cannot open %s\n", simulator.PortPath().c_str());
        return result;
    }
    NullView view;
    auto session = std::make_unique<DownloadSession>(view, port, systemClock());
    std::unique_ptr<PollingReceiver> polling;
    ReceiveDispatcher dispatcher(port);
    if (plainPolling) {
        polling = std::make_unique<PollingReceiver>(*session);
        dispatcher.SetDownloadReceiver(polling.get());
    } else {
        dispatcher.SetDownloadReceiver(session.get());
    }
    session->Init();
    dispatcher.Start();

    const int64_t started = monotonicUs();
    if (session->OnDownloadButton(image, "") != DownloadSession::Toggle::Started)
        return result;
    const int64_t limitUs = static_cast<int64_t>(size) * 10 * 1000000 / (baud > 0 ? baud : 115200) * 3 + 30000000;
    while (session->IsDownloadActive() && monotonicUs() - started < limitUs)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int64_t ended = monotonicUs();
    dispatcher.Stop();
    polling.reset();
    session.reset();
    port.ClosePort();
    simulator.Stop();

    const auto received = simulator.ReceivedImage();
    result.ok = simulator.ImageComplete() && received.size() == size && view.errors.load() == 0;
    result.totalS = (ended - started) / 1e6;
    std::lock_guard<std::mutex> lock(probe.m);
    result.transferS = (probe.lastAckUs - probe.goUs) / 1e6;
    // Every byte from the 0x06 to the last frame, and the answers but the
    // last one, which starts on the line when the span ends.
    result.wireBytes = static_cast<double>(probe.bytesIn + (probe.acks > 0 ? probe.acks - 1 : 0));
    result.turnaroundUs = probe.turnaroundUs;
    return result;
}

// The simulator's own pacing ceiling: the same bytes written back to back
// by a sender that never waits for an answer.
Result RunReference(const std::string& imagePath, size_t size, int baud)
{
    Result result;
    std::string image(size, '\0');
    std::ifstream(imagePath, std::ios::binary).read(image.data(), static_cast<std::streamsize>(size));
    std::string stream(1, kTransferGo);
    std::vector<uint8_t> frame(kFrameCapacity);
    for (uint32_t offset = 0; offset < size; offset += kBlockSize) {
        int n = BuildBlockFrame(reinterpret_cast<const uint8_t*>(image.data()), static_cast<uint32_t>(size),
                                offset, frame.data());
        stream.append(reinterpret_cast<const char*>(frame.data()), static_cast<size_t>(n));
    }

    sim::Options options;
    options.autoPowerUp = true;
    options.baud = baud;
    sim::Simulator simulator(options);
    Probe probe;
    simulator.SetObserver([&probe](sim::Traffic k, const std::string& b) { probe.Observe(k, b); });
    CSerial port;
    if (!simulator.Start() || !port.OpenPort(simulator.PortPath(), 115200, NOPARITY, 8, ONESTOPBIT))
        return result;
    auto buffer = std::make_unique<char[]>(kReadBufferSize);
    bool ready = false;
    const int64_t started = monotonicUs();
    while (!ready && monotonicUs() - started < 5000000) {
        port.Write(&kLoaderHandshake, 1);
        for (int i = 0; i < 10 && !ready; ++i) {
            int n = port.ReadAvailable(buffer.get());
            ready = n > 0 && buffer[0] == kLoaderPresent;
        }
    }
    if (ready)
        port.Write(stream.data(), static_cast<int>(stream.size()));
    const int64_t limit = monotonicUs() + 30000000;
    while (!simulator.ImageComplete() && monotonicUs() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    port.ClosePort();
    simulator.Stop();
    result.ok = simulator.ImageComplete();
    std::lock_guard<std::mutex> lock(probe.m);
    result.transferS = (probe.lastAckUs - probe.goUs) / 1e6;
    result.wireBytes = static_cast<double>(probe.bytesIn + (probe.acks > 0 ? probe.acks - 1 : 0));
    return result;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void ReportUnpaced(const char* name, const std::vector<Result>& runs)
{
    std::vector<double> all;
    double best = 1e9, worst = 0, transfer = 1e9;
    int ok = 0;
    for (const auto& r : runs) {
        ok += r.ok;
        all.insert(all.end(), r.turnaroundUs.begin(), r.turnaroundUs.end());
        best = std::min(best, r.totalS);
        worst = std::max(worst, r.totalS);
        transfer = std::min(transfer, r.transferS);
    }
    std::printf("%-24s runs %d/%zu complete  total %.3f .. %.3f s (incl. handshake)  transfer %.3f s\n",
                name, ok, runs.size(), best, worst, transfer);
    std::printf("%-24s turnaround ack -> next frame: n=%zu  median %.3f ms  p99 %.3f ms  max %.3f ms\n",
                "", all.size(), Percentile(all, 0.5) / 1000, Percentile(all, 0.99) / 1000,
                Percentile(all, 1.0) / 1000);
}

void ReportPaced(const char* name, const Result& r, int baud)
{
    const double lineS = r.wireBytes * 10 / baud;
    std::printf("%-24s %s  wire %.0f bytes = %.3f s at %d baud  measured %.3f s  efficiency %.4f\n", name,
                r.ok ? "complete" : "FAILED", r.wireBytes, lineS, baud, r.transferS,
                r.transferS > 0 ? lineS / r.transferS : 0);
    // The paced simulator takes each 115-byte piece at the start of its line
    // time, so its turnaround also holds the rest of a frame's last piece.
    std::printf("%-24s turnaround median %.3f ms  p99 %.3f ms (incl. the last piece's line time)  total %.3f s\n", "",
                Percentile(r.turnaroundUs, 0.5) / 1000, Percentile(r.turnaroundUs, 0.99) / 1000,
                r.totalS);
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    bool paced = true, plain = true, reference = true;
    size_t size = 1048575;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--size") && i + 1 < argc)
            size = static_cast<size_t>(std::atol(argv[++i]));
        else if (!std::strcmp(argv[i], "--no-paced"))
            paced = false;
        else if (!std::strcmp(argv[i], "--no-plain"))
            plain = false;
        else if (!std::strcmp(argv[i], "--no-reference"))
            reference = false;
        else {
            std::fprintf(stderr, "usage: %s [--runs N] [--no-paced] [--no-plain] [--no-reference] [--size BYTES]\n", argv[0]);
            return 2;
        }
    }
    const std::string image = WriteImage(size);
    std::printf("image %zu bytes (%zu blocks)\n", size, (size + 4095) / 4096);

    std::printf("-- unpaced simulator, %d runs each\n", runs);
    std::vector<Result> woken;
    for (int i = 0; i < runs; ++i)
        woken.push_back(RunOnce(image, size, 0, false));
    ReportUnpaced("woken by the answer", woken);
    if (plain) {
        std::vector<Result> polled;
        for (int i = 0; i < runs; ++i)
            polled.push_back(RunOnce(image, size, 0, true));
        ReportUnpaced("plain 20 ms polling", polled);
    }

    if (paced) {
        const int baud = 115200;
        std::printf("-- simulator paced at %d baud (10 bits per byte), one run each\n", baud);
        const Result woken = RunOnce(image, size, baud, false);
        ReportPaced("woken by the answer", woken, baud);
        if (plain)
            ReportPaced("plain 20 ms polling", RunOnce(image, size, baud, true), baud);
        if (reference) {
            const Result ref = RunReference(image, size, baud);
            const double lineS = ref.wireBytes * 10 / baud;
            std::printf("%-24s %s  the same bytes without waiting for answers: measured %.3f s, "
                        "efficiency %.4f (the simulator's pacing ceiling)\n",
                        "reference sender", ref.ok ? "complete" : "FAILED", ref.transferS,
                        ref.transferS > 0 ? lineS / ref.transferS : 0);
            if (ref.ok && woken.transferS > 0)
                std::printf("%-24s download time / reference time = %.4f  (%.2f ms per block above the ceiling)\n",
                            "", woken.transferS / ref.transferS,
                            (woken.transferS - ref.transferS) * 1000 / ((size + 4095) / 4096));
        }
    }
    std::filesystem::remove_all(std::filesystem::path(image).parent_path());
    return 0;
}
