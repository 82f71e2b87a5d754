// The debug terminal under a full line: the real page (offscreen) fed by the
// receive dispatcher from a pseudo-terminal, with an answer table of 20 rows
// and one matching request per KiB. Reports the bytes lost between the far
// end and the receive store, the UI thread's stalls (lateness of a 10 ms
// timer), display refreshes per second and the process's CPU time per
// second of traffic.
//
// Usage: bench_terminal_ingest [--seconds N] [--mode hex|text|both]
//   hex:  921,600 baud (92,160 bytes/s), hex display, hex answers
//   text: 115,200 baud (11,520 bytes/s), text display
// Default: 60 s of each.
#include "debug/CDebug.h"
#include "serial/CSerial.h"
#include "serial/ReceiveDispatcher.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using namespace pell;
using namespace pell::ui;

namespace {

using Steady = std::chrono::steady_clock;

double cpuSeconds()
{
    struct rusage u {};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// 19 rows that never match, then the one that does.
std::string answerTable()
{
    std::string csv = "\xEF\xBB\xBF";
    for (int i = 0; i < 19; ++i) {
        char row[96];
        std::snprintf(row, sizeof row, "%02X 03 00,%02X 03 02 00 00,4,1\r\n", 0x20 + i, 0x20 + i);
        csv += row;
    }
    csv += "7E 14 00,7E 14 04 00 00 00 00,6,1,5,3\r\n";
    return csv;
}

// One KiB of traffic that begins with the matching request.
std::string block(bool text, uint64_t n)
{
    std::string b("\x7E\x14\x00", 3);
    if (text) {
        char line[80];
        while (b.size() < 1024) {
            std::snprintf(line, sizeof line, "meter %08llu reading 00012345.6 m3 flow 12.5 m3/h ok\r\n",
                          static_cast<unsigned long long>(n));
            b += line;
        }
    } else {
        uint32_t x = static_cast<uint32_t>(n * 2654435761u + 1);
        while (b.size() < 1024) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            b.push_back(static_cast<char>(x));
        }
    }
    b.resize(1024);
    return b;
}

struct Figures {
    uint64_t fed = 0, stored = 0, dropped = 0, answerBytes = 0, answers = 0;
    double seconds = 0, cpu = 0, refreshes = 0, p99 = 0, max = 0;
};

Figures run(bool hex, int seconds)
{
    const int baud = hex ? 921600 : 115200;
    const int bytesPerSecond = baud / 10;
    Figures f;

    int master = -1, slave = -1;
    char name[256] = {};
    struct termios raw {};
    ::cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        std::perror("openpty");
        std::exit(1);
    }
    CSerial port;
    if (!port.OpenPort(name, static_cast<unsigned>(baud), NOPARITY, 8, ONESTOPBIT)) {
        std::fprintf(stderr, "cannot open %s\n", name);
        std::exit(1);
    }

    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("answers.csv"));
    std::ofstream(csv.toStdString(), std::ios::binary) << answerTable();

    auto page = std::make_unique<CDebug>(nullptr, port);
    page->resize(880, 620);
    page->show();
    page->InitTerminal();
    page->SetOpenChooser([&](QWidget*) { return csv; });
    page->ControlAs<QPushButton>(1077)->click();
    if (hex) {
        page->ControlAs<QCheckBox>(1071)->click(); // hex display
        page->ControlAs<QCheckBox>(1074)->click(); // hex send
    }
    page->ToggleReceive();

    ReceiveDispatcher dispatcher(port);
    dispatcher.SetTerminalReceiver(page->TerminalReceiver());
    dispatcher.Start();

    // The far end: writes 1 KiB blocks at the line's byte rate and takes
    // the answers.
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> fed{0}, answerBytes{0};
    std::thread reader([&] {
        char buf[4096];
        while (!stop.load()) {
            struct pollfd p = {master, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0)
                    answerBytes.fetch_add(static_cast<uint64_t>(n));
            }
        }
    });
    const auto start = Steady::now();
    const auto end = start + std::chrono::seconds(seconds);
    std::thread feeder([&] {
        uint64_t n = 0;
        while (!stop.load()) {
            const auto due = start + std::chrono::microseconds(static_cast<int64_t>(n) * 1024 * 1000000 / bytesPerSecond);
            if (due >= end)
                break;
            std::this_thread::sleep_until(due);
            const std::string b = block(!hex, n++);
            std::size_t off = 0;
            while (off < b.size()) {
                const ssize_t w = ::write(master, b.data() + off, b.size() - off);
                if (w <= 0)
                    break;
                off += static_cast<std::size_t>(w);
            }
            fed.fetch_add(off);
        }
    });

    // The UI thread's stalls: lateness of a 10 ms timer.
    std::vector<double> late;
    late.reserve(static_cast<std::size_t>(seconds) * 110);
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        late.push_back(std::max(0.0, (now - last) / 1e6 - 10.0));
        last = now;
    });
    const double cpu0 = cpuSeconds();
    const uint64_t refreshes0 = page->Refreshes();
    tick.start(10);
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    feeder.join();
    tick.stop();
    f.seconds = std::chrono::duration<double>(Steady::now() - start).count();
    f.cpu = cpuSeconds() - cpu0;
    f.refreshes = static_cast<double>(page->Refreshes() - refreshes0) / f.seconds;

    // Whatever is still in flight reaches the store.
    const auto drainEnd = Steady::now() + std::chrono::seconds(10);
    while (page->Terminal().BytesReceived() < fed.load() && Steady::now() < drainEnd)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    f.fed = fed.load();
    f.stored = page->Terminal().BytesReceived();
    f.dropped = dispatcher.BytesDropped();
    f.answers = page->Terminal().AnswersQueued();

    dispatcher.Stop();
    page->StopTerminal();
    stop.store(true);
    reader.join();
    f.answerBytes = answerBytes.load();
    page.reset();
    port.ClosePort();
    ::close(master);
    ::close(slave);

    std::sort(late.begin(), late.end());
    if (!late.empty()) {
        f.p99 = late[std::min(late.size() - 1, late.size() * 99 / 100)];
        f.max = late.back();
    }
    return f;
}

void print(const char* what, const Figures& f)
{
    std::printf("%s\n", what);
    std::printf("  traffic            %.1f s, %llu bytes (%.0f bytes/s)\n", f.seconds,
                static_cast<unsigned long long>(f.fed), static_cast<double>(f.fed) / f.seconds);
    std::printf("  bytes lost         %lld (stored %llu, dropped by the dispatcher %llu)\n",
                static_cast<long long>(f.fed) - static_cast<long long>(f.stored),
                static_cast<unsigned long long>(f.stored), static_cast<unsigned long long>(f.dropped));
    std::printf("  answers            %llu queued, %llu bytes back at the far end\n",
                static_cast<unsigned long long>(f.answers), static_cast<unsigned long long>(f.answerBytes));
    std::printf("  UI stall           p99 %.1f ms, max %.1f ms (lateness of a 10 ms timer)\n", f.p99, f.max);
    std::printf("  display refreshes  %.1f per second\n", f.refreshes);
    std::printf("  CPU                %.3f s per second of traffic\n", f.cpu / f.seconds);
    std::fflush(stdout);
}

// One full redraw of a full store (a switch of the display form), each way.
void printRedraw()
{
    CSerial port; // never opened: the bytes are handed over directly
    CDebug page(nullptr, port);
    page.resize(880, 620);
    page.show();
    page.InitTerminal();
    std::string bytes;
    for (uint64_t n = 0; bytes.size() < 524288; ++n)
        bytes += block(true, n);
    bytes.resize(524288);
    page.Terminal().OnTerminalData(static_cast<int>(bytes.size()), bytes.data());
    page.OnReceiveUpdate();
    QCoreApplication::processEvents();
    for (const char* form : {"hex", "text"}) {
        QElapsedTimer t;
        t.start();
        page.ControlAs<QCheckBox>(1071)->click();
        QCoreApplication::processEvents();
        std::printf("full redraw of 524,288 bytes as %-4s  %.0f ms\n", form, t.nsecsElapsed() / 1e6);
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    int seconds = 60;
    std::string mode = "both";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            seconds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--mode" && i + 1 < argc) {
            mode = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--seconds N] [--mode hex|text|both]\n", argv[0]);
            return 2;
        }
    }
    if (mode != "hex" && mode != "text" && mode != "both") {
        std::fprintf(stderr, "--mode wants hex, text or both\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    printRedraw();
    if (mode != "text")
        print("921,600 baud, hex display, 20 answer rows, one match per KiB", run(true, seconds));
    if (mode != "hex")
        print("115,200 baud, text display, 20 answer rows, one match per KiB", run(false, seconds));
    return 0;
}
