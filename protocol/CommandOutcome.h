#pragma once
// How one command sent to the controller ended, as the engine saw it: the
// value a job keeps, logs from and hands to whoever asked for the job (the
// window, the command-line tool). Nothing downstream reads the outcome back
// out of a log text.
#include <string>

namespace pell {

enum class CommandStatus {
    Confirmed,    // the row's OK reply arrived in time (and its handler, if any, took the reply)
    Refused,      // the error reply arrived (also when the OK reply came with it)
    Unanswered,   // neither reply within the time-out nor within the late window after it
    AnsweredLate, // the OK or error reply came only after the time-out: not confirmed
    LineLost,     // the port went away (device lost or closed) before the reply
    NotSent,      // nothing went out: no such command, port not open, short write, stopping
    Cancelled,    // sent, then the wait was ended by a stop before any reply
};

struct CommandOutcome {
    int id = -1;
    CommandStatus status = CommandStatus::NotSent;
    std::string line;  // the command line as built, CR LF included
    std::string reply; // everything received for the command, late bytes included
    // For AnsweredLate: whether the late reply was the OK reply.
    bool lateOk = false;
    // The row's reply handler's result for a confirmed command that has
    // one (AT+SHOW: 1 when its report stored a value), else 1 when confirmed.
    int handlerResult = 0;

    bool Confirmed() const { return status == CommandStatus::Confirmed; }
};

// A short English name of the status ("confirmed", "refused", "no answer",
// "answered late", "line lost", "not sent", "stopped") for machine output
// and messages.
const char* CommandStatusName(CommandStatus status);

} // namespace pell
