#pragma once
// What the simulated controller knows and how it answers one AT command
// line in configuration mode. No threads and no line here: the device
// thread hands it whole lines and writes out what it answers.
#include "sim/Simulator.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pell::sim {

constexpr const char* kOkReply = "\r\nOK\r\n";
constexpr const char* kErrorReply = "\r\nERROR\r\n";
constexpr const char* kLeaveReply = "\r\nleave\r\n";
constexpr int kParamCount = 145;       // ids 0..144
constexpr std::size_t kValueMax = 99;  // bytes the device keeps of a value

// A calendar time without a zone: the controller's clock knows none.
struct DeviceTime {
    int year = 2000, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
int64_t ToSeconds(const DeviceTime& t); // seconds since 1970-01-01 00:00:00 of the same calendar
DeviceTime FromSeconds(int64_t seconds);
int Weekday(const DeviceTime& t);       // 0 Sunday .. 6 Saturday

// The two forms the tool sends with AT+EXCCLK=:
//   2026/12/08,13:05:09,2        (from the PC clock)
//   "2026/01/04,00:00:00",0      (picked by hand)
// The weekday must be the one of the date. False for anything else.
bool ParseClockText(const std::string& text, DeviceTime& time, int& weekday);

// The record query ";<date>,<h:m:s>;<date>,<h:m:s>". A date is three numbers
// separated by '/', '-' or '.', year first (2026/1/4) or last (1/4/2026,
// month first; a two-digit year is 20yy).
bool ParseRecordQuery(const std::string& text, DeviceTime& from, DeviceTime& to);

// The whole answer to one command line.
struct CommandReply {
    std::string text;          // what the device writes, OK or ERROR reply included
    int workMs = 0;            // the device is busy this long before it answers
    bool restartAfter = false; // the device restarts once the answer is out
    bool known = false;        // the line named a command of the table
};

class ControllerModel {
public:
    ControllerModel();

    // `line` starts with "AT" and has no line end.
    CommandReply Execute(const std::string& line);

    std::optional<std::string> Param(int id) const;
    bool SetParam(int id, const std::string& value);
    static std::optional<std::string> FactoryValue(int id);
    void RestoreFactory();

    std::string CounterValue(int index) const;
    bool SetCounterValue(int index, const std::string& value);
    std::string SerialValue(int index) const;
    bool SetSerialValue(int index, const std::string& value);

    std::string ClockText() const { return clockText_; }
    int ClockSets() const { return clockSets_; }
    DeviceTime Now() const;

    void SetRecords(const std::vector<CardRecord>& records);
    const std::vector<CardRecord>& Records() const { return records_; }
    void SetRecordsPerBatch(int n) { recordsPerBatch_ = n < 1 ? 1 : n; }
    void SetEraseMs(int ms) { eraseMs_ = ms < 0 ? 0 : ms; }

    // The AT+SHOW report: every parameter row in table order, label, blanks,
    // value, CR LF; without the OK reply.
    std::string Report() const;

    // Texts the device answers with; public so tests can hold them up.
    static const char* VersionText();
    static const char* SignalText();

private:
    CommandReply Set(int id, const std::string& value);
    CommandReply InitialValue(int id, const std::string& rest);
    CommandReply Clock(const std::string& value);
    CommandReply RecordQuery(const std::string& value);
    std::string NextRecordBatch();

    std::array<std::string, kParamCount> values_;
    std::array<std::string, 4> counters_;
    std::array<std::string, 4> serials_;
    std::string clockText_;
    int clockSets_ = 0;
    int64_t clockBase_ = 0;      // device seconds at clockSetAt_; 0: follows the PC
    int64_t clockSetAtMs_ = 0;   // monotonic
    std::vector<CardRecord> records_;
    std::vector<CardRecord> pending_; // the rest of the query being answered
    std::size_t pendingNext_ = 0;
    int pendingSeq_ = 0;
    bool queryOpen_ = false;
    int recordsPerBatch_ = 10;
    int eraseMs_ = 300;
};

} // namespace pell::sim
