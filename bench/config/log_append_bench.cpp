// UI-thread cost of one configuration-page log line: the page's way (its
// log view adds the new line at the end of the edit) against putting the
// whole log text into the edit again for every line, in one run, offscreen.
// Usage: bench_config_log [lines]   (default 20,000 lines of 60 bytes)
#include "common/Clock.h"
#include "config/CPellCfgDlg.h"
#include "protocol/CommandEngine.h"
#include "serial/CSerial.h"
#include "common/PageLog.h"
#include "config/ConfigTexts.h"
#include "ui/LogView.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextBlock>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace pell;
using namespace pell::ui;

namespace {

// 60 bytes with CR LF, the length of a typical command or result entry.
std::string line(int i)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "AT+HRTTIME=%08d ", i);
    std::string s = buf;
    s.append(58 - s.size(), 'x');
    s += "\r\n";
    return s;
}

struct Figures {
    double totalMs = 0;
    double meanUs = 0;
    double p50Us = 0;
    double p99Us = 0;
    double maxUs = 0;
};

Figures figures(std::vector<int64_t>& us)
{
    Figures f;
    int64_t sum = 0;
    for (int64_t v : us)
        sum += v;
    std::sort(us.begin(), us.end());
    f.totalMs = static_cast<double>(sum) / 1000.0;
    f.meanUs = static_cast<double>(sum) / static_cast<double>(us.size());
    f.p50Us = static_cast<double>(us[us.size() / 2]);
    f.p99Us = static_cast<double>(us[us.size() * 99 / 100]);
    f.maxUs = static_cast<double>(us.back());
    return f;
}

void print(const char* name, const Figures& f, int lines)
{
    std::printf("%-34s %6d lines  total %9.1f ms  per line: mean %9.1f us  p50 %9.1f us  p99 %9.1f us  max %9.1f us\n",
                name, lines, f.totalMs, f.meanUs, f.p50Us, f.p99Us, f.maxUs);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;

    // The page's own log, the way the jobs and buttons write it on the UI thread.
    CSerial port;
    CommandEngine engine(port, systemClock());
    CPellCfgDlg page(nullptr, PageServices{port, engine, systemClock()});
    page.resize(900, 650);
    page.show();
    page.InitConfigPage();
    page.Controller().Stop(); // only the log is measured
    std::vector<int64_t> appendUs;
    appendUs.reserve(static_cast<std::size_t>(lines));
    for (int i = 0; i < lines; ++i) {
        const std::string text = line(i);
        const int64_t t0 = monotonicUs();
        page.AppendLog(text);
        appendUs.push_back(monotonicUs() - t0);
    }
    QCoreApplication::processEvents();
    const QString appended = page.LogEdit()->toPlainText();

    // The same lines from another thread: the UI thread catches up in batches.
    page.OnBnClickedClearLog();
    const int64_t c0 = monotonicUs();
    std::thread writer([&] {
        for (int i = 0; i < lines; ++i)
            page.AppendLog(line(i));
        page.AppendLog("END\r\n");
    });
    // The UI thread serves the posted catch-ups while the lines come in.
    auto caughtUpWithEnd = [&] {
        QTextBlock last = page.LogEdit()->document()->lastBlock().previous();
        return last.isValid() && last.text().endsWith(QStringLiteral(">:END"));
    };
    while (!caughtUpWithEnd() && monotonicUs() - c0 < 60'000'000)
        QCoreApplication::processEvents();
    const int64_t caughtUp = monotonicUs();
    writer.join();

    // The whole text into an edit of the same size for every line.
    PageLog wholeLog(configtext::kLogBanner);
    QPlainTextEdit whole;
    whole.setFont(page.LogEdit()->font());
    whole.setLineWrapMode(QPlainTextEdit::NoWrap);
    whole.resize(page.LogEdit()->size());
    whole.show();
    LogView wholeView(&whole);
    std::vector<int64_t> wholeUs;
    wholeUs.reserve(static_cast<std::size_t>(lines));
    for (int i = 0; i < lines; ++i) {
        const std::string text = line(i);
        const int64_t t0 = monotonicUs();
        wholeLog.Append(text);
        wholeLog.TakePending();
        wholeView.ShowWhole(wholeLog.Text());
        wholeUs.push_back(monotonicUs() - t0);
    }

    std::printf("AppendLog, %d lines of 60 bytes, offscreen, log emptied at %zu characters\n", lines,
                static_cast<std::size_t>(1048576));
    print("append to the edit (UI thread)", figures(appendUs), lines);
    print("whole text into the edit", figures(wholeUs), lines);
    std::printf("%-34s %6d lines  edit caught up after %.1f ms in all (%.1f us per line)\n",
                "append, lines from another thread", lines, static_cast<double>(caughtUp - c0) / 1000.0,
                static_cast<double>(caughtUp - c0) / lines);
    const Figures a = figures(appendUs);
    const Figures w = figures(wholeUs);
    std::printf("whole text / append, mean per line: %.0fx\n", w.meanUs / a.meanUs);
    // Time stamps may differ by a second; the lines shown must not.
    std::printf("lines shown: append %lld, whole text %lld\n",
                static_cast<long long>(appended.count(QChar('\n'))),
                static_cast<long long>(whole.toPlainText().count(QChar('\n'))));
    return 0;
}
