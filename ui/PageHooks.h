#pragma once
// What the main window needs of its three tool pages. A page class
// implements the hooks of its kind; the main window finds them on the page
// it created (dynamic_cast); a plain page of a template has none.
#include "serial/ReceiveDispatcher.h"

#include <functional>

namespace pell {

class DownloadPageHooks {
public:
    virtual ~DownloadPageHooks() = default;
    virtual void InitDownloadPage() = 0;
    // Stops the page's worker and timer threads; the page stays usable as a
    // window. The main window calls it before it destroys any page.
    virtual void StopDownloadPage() = 0;
    virtual bool IsDownloadActive() const = 0;
    // Resets a running download (the port was closed) or starts one.
    virtual void ToggleDownload() = 0;
    virtual IDownloadReceiver* DownloadReceiver() = 0;
    // One conversation with the controller at a time. True from the moment
    // a start of a download is under way until the download ends; any
    // thread.
    virtual bool HoldsLine() const { return IsDownloadActive(); }
    // Tells whether the configuration page holds the line (a start refuses
    // meanwhile); nullptr clears it. UI thread.
    virtual void SetLineCheck(std::function<bool()>) {}
};

class ConfigPageHooks {
public:
    virtual ~ConfigPageHooks() = default;
    virtual void InitConfigPage() = 0;
    // Stops the page's timer and worker (after releasing any wait of the
    // worker for the UI thread). The main window calls it before it
    // destroys any page, since the worker calls into the parameter pages.
    virtual void StopConfigPage() = 0;
    // kJobWaiting, kJobRunning or kJobIdle (config/JobControl.h).
    virtual int JobState() const = 0;
    virtual void SetJobState(int state) = 0;
    virtual void SetControlState(int mode) = 0;
    virtual IConfigReceiver* ConfigReceiver() = 0;
    // Tells whether the download page holds the line (buttons and page
    // requests refuse meanwhile); nullptr clears it and waits for a check
    // under way on the worker. UI thread.
    virtual void SetLineCheck(std::function<bool()>) {}
    // How the page enables and disables the main window's navigation while
    // it holds the conversation; called on the UI thread. nullptr clears it.
    virtual void SetNavigationSwitch(std::function<void(bool enable)>) {}
};

class TerminalPageHooks {
public:
    virtual ~TerminalPageHooks() = default;
    // Counters reset, receive flag 0, counts shown.
    virtual void InitTerminal() = 0;
    virtual bool IsReceiving() const = 0;
    virtual void ToggleReceive() = 0;
    virtual ITerminalReceiver* TerminalReceiver() = 0;
    // Stops the page's sender thread; the main window calls it before it
    // destroys any page.
    virtual void StopTerminal() {}
    // Tells whether another page holds the line (sends are skipped
    // meanwhile); called on any thread. nullptr clears it.
    virtual void SetLineCheck(std::function<bool()>) {}
    // How the page enables and disables the main window's navigation while
    // it receives; called on the UI thread. nullptr clears it.
    virtual void SetNavigationSwitch(std::function<void(bool enable)>) {}
};

} // namespace pell
