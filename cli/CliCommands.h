#pragma once
// halden's commands, by family, each a function on the session that runs it
// and returns its exit status. RunCli (CliRunner.cpp) picks one by verb.
namespace pell::cli {

class Session;

// The parameters one by one (CmdParams.cpp): get, set.
int RunGet(Session& s);
int RunSet(Session& s);

// Configuration files (CmdFiles.cpp): read saves one, write loads one into
// the controller, diff compares one with it.
int RunRead(Session& s);
int RunWrite(Session& s);
int RunDiff(Session& s);

// The configuration page's buttons (CmdMaintenance.cpp): job `code` of a
// job button, or of a clear button (which asks first).
int RunMaintenance(Session& s, int code, bool clearButton);

// The page requests (CmdClock.cpp): the clock, and the initial value of a
// pulse counter (counter) or serial meter port (meter).
int RunClock(Session& s);
int RunInitialValue(Session& s);

// The card records of some days as CSV (CmdRecords.cpp).
int RunRecords(Session& s);

// A firmware image into the boot loader (CmdFlash.cpp).
int RunFlash(Session& s);

} // namespace pell::cli
