#include "app/CPellToolApp.h"

#include "app/CPellToolDlg.h"
#include "common/GbkText.h"
#include "protocol/CommandEngine.h"
#include "serial/CSerial.h"
#include "serial/PortList.h"

#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace pell::ui {

namespace {

bool g_terminating = false; // UI thread only

#ifndef _WIN32
int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    char c = 1;
    ssize_t r = ::write(g_signalPipe[1], &c, 1); // async-signal-safe
    (void)r;
}
#endif

} // namespace

CPellToolApp::CPellToolApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Halden TOOL"));
    setQuitOnLastWindowClosed(false);
    watchTerminationSignals();
}

CPellToolApp::~CPellToolApp()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

void CPellToolApp::watchTerminationSignals()
{
#ifdef _WIN32
    // A window program on Windows gets no terminal's signals; closing its
    // window ends it.
#else
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [] {
        char buf[16];
        while (::read(g_signalPipe[0], buf, sizeof buf) > 0) {
        }
        // Leaves every running event loop, message boxes included; the main
        // window then closes as if the user had closed it.
        g_terminating = true;
        QCoreApplication::exit(0);
    });
    struct sigaction sa {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
#endif
}

int CPellToolApp::InitInstance()
{
    // Every caption, reply and file of the system is code page 936: without
    // the system's converter the window would show and send garbage.
    if (!GbkConverterWorks()) {
        QMessageBox::critical(nullptr, QStringLiteral("Halden TOOL"),
                              QStringLiteral("无法启动：本系统缺少代码页 936 (GBK) 的文字转换，"
                                             "中文无法正确显示和发送。\n"
                                             "Cannot start: this system cannot convert code page 936 (GBK)."));
        return 1;
    }
    // The services the pages share: one port, the command engine on it,
    // the system's clock. They outlive the window, which joins every thread
    // that uses them before it goes.
    CSerial port;
    CommandEngine engine(port, systemClock());
    CPellToolDlg dlg(PageServices{port, engine, systemClock()}, [] { return ListSerialPorts(); });
    dlg.OnInitDialog();
    if (!g_terminating) // told to stop while a start-up message was shown
        dlg.exec();
    return 0;
}

} // namespace pell::ui
