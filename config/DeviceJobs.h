#pragma once
// The jobs that act on the controller at once instead of through its
// parameters: the six maintenance commands of the configuration page's
// buttons (jobs 4 to 7, 19, 20), the clock (job 8) and the initial values
// of the four counters and four serial meter ports (jobs 9 to 12, 14 to
// 17), which the pages ask for with their request texts.
#include "config/ConfigJobs.h"
#include "pages/RequestText.h"

#include <optional>
#include <span>
#include <string_view>

namespace pell {

// The maintenance commands, one row each: the job, its command, the
// command-line verb that runs it, how the button takes a click while
// another job runs, the question asked before the job is queued and the
// boxes of its outcome. The jobs, the command-line tool and the questions
// are read from this table.
struct MaintenanceCommand {
    int code;
    int commandId;
    const char* verb; // halden's verb
    // A clear button: a click while another job runs gets "设置失败"
    // (the others do nothing then).
    bool clearButton;
    const char* question; // or nullptr
    const char* okBox;    // or nullptr
    const char* failBox;
};
std::span<const MaintenanceCommand> MaintenanceCommands();
// The row of a job code or of a verb, or nullptr.
const MaintenanceCommand* FindMaintenanceCommand(int code);
const MaintenanceCommand* FindMaintenanceVerb(std::string_view verb);

// Jobs 4 (AT+VER), 5 (AT+CSQ), 6 (AT+FACTORY), 7 (AT+RESET), 19
// (AT+INITDATAFLASH) and 20 (AT+INITSENSOR): the command line and the
// controller's whole answer go to the log; then, on the controller's OK,
// job 6 reads the parameters back (up to three runs) and job 7 tells the
// user to enter configuration mode again; jobs 19 and 20 report their
// outcome in a message box. Other codes do nothing.
void RunMaintenanceJob(int code, JobContext& ctx);

// Job 8: sends the clock request with AT+EXCCLK= while the clock controls
// are disabled and shows "设置时间成功" or "设置时间失败". A request in the
// PC-clock form is composed again from the PC's clock as it goes out, so a
// request that waited behind another job does not set a stale time.
void SetDeviceClock(JobContext& ctx);

// Jobs 9 to 12 and 14 to 17: sends the request ("?" reads, anything else
// sets) after the counter's or port's command; a read shows the answer in
// the value edit. A request that would not fit one value (over 99 bytes)
// is refused unsent, with the failure box of its kind.
void ExchangeInitialValue(int code, JobContext& ctx);

// The answer of an initial-value read as the value edit shows it: what
// follows the first `prefix` ("CNTRVAL01:", "COMVAL01:", ...; the whole
// reply without one) up to the first "OK", line breaks and blanks kept.
std::string InitialValueAnswer(std::string reply, std::string_view prefix);

// The confirmation a maintenance button asks for before its job is
// queued (factory settings, restart, clear cache, clear meter), or
// nullptr when it asks none.
const char* MaintenanceQuestion(int code);

} // namespace pell
