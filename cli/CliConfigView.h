#pragma once
// The configuration page of the command-line tool: the jobs' view without a
// window. The "page" is a parameter model, set by the read-back and by the
// user's edit (halden set); the log goes to whoever listens (the
// terminal); each command's outcome is handed on as the job reports it.
// Outcomes come from the jobs' results, never from the log's texts.
#include "common/Clock.h"
#include "config/IConfigView.h"
#include "pages/ParameterModel.h"
#include "pages/RequestText.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace pell::cli {

class CliConfigView : public IConfigView {
public:
    // `controller`: the values of the engine the jobs talk through, which
    // the page is compared with.
    explicit CliConfigView(const ParamTable& controller) : page_(controller) {}

    // Called on the worker with every log text (GBK) as the job logs it.
    using LogSink = std::function<void(std::string_view text)>;
    // Called on the worker after each command a job sent.
    using CommandSink = std::function<void(const CommandOutcome& command)>;

    // Set before any job runs (the command sink also between jobs).
    void SetLogSink(LogSink sink) { logSink_ = std::move(sink); }
    void SetCommandSink(CommandSink sink);

    // IConfigView
    void AppendLog(std::string_view text) override;
    void ShowControlState(int mode) override;
    bool SetPageValues(const std::vector<PageValue>& values) override;
    PageReadings GetPageValues(const std::vector<int>& ids) override;
    void MessageBox(const std::string& text) override;
    void CommandEnded(const CommandOutcome& outcome) override;
    // The questions before a job that changes the controller: answered as
    // the command line said (--yes).
    bool AskYesNo(const std::string& text) override;
    std::shared_ptr<HistoryRecords> Records() override;
    void SetYes(bool yes);
    // The records job 13 reads into (halden records); nullptr: none.
    void SetRecords(std::shared_ptr<HistoryRecords> records);

    // What the user typed for a parameter (halden set).
    void Edit(int id, const std::string& text);
    // The page value of an id; empty when the page holds none.
    std::string Shown(int id) const;

    // The boxes shown so far, in order (GBK).
    std::vector<std::string> Messages() const;
    // Set whenever the page is set idle (a job ended).
    Event& Idle() { return idle_; }

private:
    LogSink logSink_;
    mutable std::mutex m_;
    CommandSink commandSink_;
    ParameterModel page_; // no parameter has a value before the jobs or the user give one
    std::vector<std::string> messages_;
    bool yes_ = false;
    std::shared_ptr<HistoryRecords> records_;
    Event idle_;
};

} // namespace pell::cli
