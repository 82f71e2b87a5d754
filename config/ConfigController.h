#pragma once
// The configuration page without its window: the job state and code, the
// wait for configuration mode, the buttons' decisions, the receive routine
// and the worker. The Qt page (CPellCfgDlg) forwards its buttons and timer
// here and implements IConfigView; tests drive it with a view of their own.
#include "serial/ReceiveDispatcher.h"
#include "common/Clock.h"
#include "config/ConfigWorker.h"
#include "config/IConfigView.h"
#include "config/JobControl.h"
#include "protocol/CommandEngine.h"
#include "serial/CSerial.h"

#include <functional>

namespace pell {

class ConfigController : public IConfigReceiver {
public:
    ConfigController(IConfigView& view, CSerial& port, CommandEngine& engine,
                     RequestLookup requests);
    ~ConfigController() override;
    ConfigController(const ConfigController&) = delete;
    ConfigController& operator=(const ConfigController&) = delete;

    // Installs the report parser and starts the worker.
    void Start();
    // Stops and joins the worker; a running job ends at once.
    void Stop();

    // The buttons' and tree's state for a mode; entering the wait for
    // configuration mode also empties the engine's reply text. Any thread.
    void SetControlState(int mode);

    // 0 waiting for configuration mode, 1 job running, 2 idle.
    int JobState() const { return jobs_.State(); }
    bool HoldsConversation() const override { return JobState() != kJobIdle; }
    int JobCode() const { return jobs_.Code(); }
    // The main window sets the page idle when it closes the port.
    void SetJobState(int state);

    // Receive dispatch thread: every chunk while waiting or running a job.
    void OnPortData(int length, const char* bytes) override;

    // Interface thread.
    // Buttons of jobs 2 to 7: need the open port and an idle page; factory
    // settings and restart ask for a yes first.
    void OnJobButton(int code);
    // Buttons of jobs 19 and 20: the same (with the question), but a busy
    // page says "设置失败".
    void OnClearButton(int code);
    // "重新加载" / "取消加载".
    void OnReloadButton();
    // Timer 111: the 'S' that asks the controller into configuration mode.
    void OnTimerTick();
    // "从配置文件配置": refused with a log line while a job runs, the page
    // waits for configuration mode or a download holds the line, and then
    // the table stays untouched. Otherwise `parseIntoTable` reads the file
    // into the values it is given (the engine's) and, when it succeeded,
    // job 18 is queued.
    // The parse runs under the job transition, so no page request can start
    // between the check and job 18: it must neither wait for the worker nor
    // open a window, and a parse that fails leaves the table as it was.
    // True when job 18 was queued.
    bool OnConfigureFromFile(const std::function<bool(ParamTable& values)>& parseIntoTable);

    // What tells whether the download page holds the line; the buttons that
    // talk to the controller and the page requests refuse meanwhile. Clear
    // it (nullptr) before that page goes.
    void SetLineCheck(std::function<bool()> otherHoldsLine) { worker_.SetLineCheck(std::move(otherHoldsLine)); }

    JobControl& Jobs() { return jobs_; }
    ConfigWorker& Worker() { return worker_; }
    CommandEngine& Engine() { return engine_; }
    CSerial& Port() { return port_; }

private:
    // Logs the refusal when the download page holds the line.
    bool refusedForDownload();
    // The yes/no question of a button that changes the controller (factory
    // settings, restart, clear cache, clear meter); asked only while the
    // page is idle (else false, with "设置失败" when `busyFails`) and true
    // when the user said yes with the port still open. True for the others.
    bool confirmed(int code, bool busyFails);

    IConfigView& view_;
    CSerial& port_;
    CommandEngine& engine_;
    JobControl jobs_;
    ConfigWorker worker_;
};

} // namespace pell
