#pragma once
// The configuration page of the command-line tool: the jobs' view without a
// window. The "page" is one value per parameter id, set by the read-back and
// by the user's edit (halden set); the log goes to whoever listens (the
// terminal); the jobs' command results are kept in the order they came.
#include "common/Clock.h"
#include "config/IConfigView.h"
#include "pages/RequestText.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace pell::cli {

// One command a job sent, and how it ended.
struct SentCommand {
    std::string line;     // the command line as logged (GBK, with CR LF)
    bool confirmed = false;
    bool refused = false; // the controller answered with its error reply
};

class TerminalView : public IConfigView {
public:
    // Called on the worker with every log text (GBK) as the job logs it.
    using LogSink = std::function<void(std::string_view text)>;
    // Called on the worker after each command a job sent.
    using CommandSink = std::function<void(const SentCommand& command)>;
    // Tells whether the last command ended in the controller's error reply.
    using RefusalCheck = std::function<bool()>;

    // Set before any job runs.
    void SetLogSink(LogSink sink) { logSink_ = std::move(sink); }
    void SetCommandSink(CommandSink sink) { commandSink_ = std::move(sink); }
    void SetRefusalCheck(RefusalCheck check) { refused_ = std::move(check); }

    // IConfigView
    void AppendLog(std::string_view text) override;
    void ShowControlState(int mode) override;
    bool SetPageValues(const std::vector<PageValue>& values) override;
    PageReadings GetPageValues(const std::vector<int>& ids) override;
    void MessageBox(const std::string& text) override;
    // The questions before a job that changes the controller: answered as
    // the command line said (--yes).
    bool AskYesNo(const std::string& text) override;
    // An initial value read from the controller.
    void ShowRequestAnswer(RequestSlot slot, const std::string& gbkText) override;
    void SetYes(bool yes);

    // What the user typed for a parameter (halden set).
    void Edit(int id, const std::string& text);
    // The page value of an id; empty when the page holds none.
    std::string Shown(int id) const;

    bool LoadSucceeded() const;
    bool LoadFailed() const;
    std::vector<SentCommand> Sent() const;
    std::vector<std::string> Messages() const;
    // Every log text so far, in order.
    std::vector<std::string> LogTexts() const;
    std::string RequestAnswer() const;
    // Set whenever the page is set idle (a job ended).
    Event& Idle() { return idle_; }

private:
    LogSink logSink_;
    CommandSink commandSink_;
    RefusalCheck refused_;
    mutable std::mutex m_;
    std::map<int, std::string> page_;
    std::string lastLine_;
    bool loadOk_ = false;
    bool loadFailed_ = false;
    std::vector<SentCommand> sent_;
    std::vector<std::string> messages_;
    std::vector<std::string> log_;
    std::string answer_;
    bool yes_ = false;
    Event idle_;
};

} // namespace pell::cli
