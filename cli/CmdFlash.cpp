// halden flash: a firmware image into the controller's boot loader, as the
// download page does, with the progress bar on stderr.
#include "cli/CliCommands.h"
#include "cli/CliSession.h"
#include "cli/CliText.h"
#include "cli/FlashView.h"
#include "download/DownloadSession.h"
#include "download/DownloadTexts.h"

#include <chrono>
#include <cstring>

namespace pell::cli {

namespace {

// Wakes a wait when the port's line goes away.
struct LineGoneAlarm : ILineWatcher {
    LineGoneAlarm(CSerial& port, Event& wake) : port_(port), wake_(wake) { port_.AddLineWatcher(this); }
    ~LineGoneAlarm() override { port_.RemoveLineWatcher(this); }
    LineGoneAlarm(const LineGoneAlarm&) = delete;
    LineGoneAlarm& operator=(const LineGoneAlarm&) = delete;
    void OnLineGone() override { wake_.set(); }
    CSerial& port_;
    Event& wake_;
};

int awaitDownload(Session& s, DownloadSession& session, FlashView& view)
{
    const CliOptions& o = s.Options();
    Event& progress = view.Progress();
    Watching watch(s.Env().interrupt, progress);
    LineGoneAlarm alarm(s.Port(), progress);
    // The last block's confirmation ends the download; the session
    // resets its page on its own a moment later.
    while (session.IsDownloadActive() && !view.Succeeded()) {
        bool moved = true;
        if (o.waitSeconds > 0)
            moved = s.Env().waitClock->waitFor(progress, o.waitSeconds * 1000);
        else
            progress.wait();
        progress.reset();
        if (s.Interrupted()) {
            if (session.IsDownloadActive())
                session.OnDownloadButton({}, {}); // the page's "取消"
            return s.InterruptedExit();
        }
        if (s.Port().IsLost() && !view.Succeeded()) {
            if (session.IsDownloadActive())
                session.OnDownloadButton({}, {});
            return s.Fail(kExitPort, "the port went away during the download (block " +
                                         std::to_string(view.Blocks()) +
                                         " confirmed); check the cable and flash again");
        }
        if (!moved && session.IsDownloadActive() && !view.Succeeded()) {
            session.OnDownloadButton({}, {});
            return s.Fail(kExitSilent, view.Blocks() == 0 && !view.LoaderAnswered()
                                           ? "the boot loader did not answer within " +
                                                 std::to_string(o.waitSeconds) +
                                                 " s; switch the controller off and on while halden waits"
                                           : "no block was accepted for " + std::to_string(o.waitSeconds) +
                                                 " s; the download was cancelled");
        }
    }
    if (!view.Succeeded())
        return s.Fail(kExitSilent, "the download ended without the boot loader's confirmation");
    return kExitOk;
}

} // namespace

int RunFlash(Session& s)
{
    const CliOptions& o = s.Options();
    std::ostream& out = s.Out();
    {
        DownloadImage probe;
        const DownloadImage::Result r = probe.Load(o.file);
        if (r.status == DownloadImage::Status::FileError)
            return s.Fail(kExitFile, "cannot read the image " + o.file + ": " +
                                         (r.reason.empty() ? std::string(std::strerror(r.error)) : r.reason));
        if (r.status == DownloadImage::Status::BadLength)
            return s.Fail(kExitFile, "the image " + o.file + " must hold 1 to 1,048,575 bytes");
    }
    if (int status = s.OpenPort())
        return status;
    FlashView view(s.Err(), s.ErrMutex(), s.Env().progressBar, o.verbose);
    DownloadSession session(view, s.Port(), *s.Env().clock);
    ReceiveDispatcher dispatcher(s.Port());
    dispatcher.SetDownloadReceiver(&session);
    session.Init();
    dispatcher.Start();
    const auto began = std::chrono::steady_clock::now();
    const DownloadSession::Toggle started =
        session.ToggleDownload(o.file, o.boot ? downloadtext::kBootProgram : downloadtext::kApplication);
    int status = kExitOk;
    if (started == DownloadSession::Toggle::NoPort)
        status = s.Fail(kExitPort, "serial port " + s.PortName() + " is not open");
    else if (started != DownloadSession::Toggle::Started)
        status = s.Fail(kExitFile, "cannot read the image " + o.file);
    else
        status = awaitDownload(s, session, view);
    dispatcher.Stop();
    session.Shutdown();
    view.EndBar();
    if (status != kExitOk)
        return status;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (o.json)
        out << "{\"ok\":true,\"image\":" << JsonString(o.file) << ",\"bytes\":" << view.ImageBytes()
            << ",\"blocks\":" << view.Blocks() << ",\"restarts\":" << view.Restarts()
            << ",\"seconds\":" << seconds << "}\n";
    else
        out << "download success ok: " << view.ImageBytes() << " bytes in " << view.Blocks()
            << " blocks\n";
    out.flush();
    return kExitOk;
}

} // namespace pell::cli
