#pragma once
// The vocabulary of the controller's AT protocol and of its parameter set.
//
// Two tables share one key, the id. The AT command table says what to send
// for an id, which texts end the controller's reply and how long to wait for
// them. The parameter table says under which label the controller reports a
// parameter (the same label names a line of a configuration file); the
// values themselves live in a ParamTable (ParamTable.h), one per command
// engine.
//
// Ids 0..144 are the configurable parameters (there is no 145), 146..151,
// 162 and 163 are commands without a value, 152 is the controller clock,
// 153..156 the counter values, 157..160 the serial-meter initial values,
// 161 the history-record query and 164 the end row of both tables.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pell {

class ParamTable;

// Called with the accumulated reply after the OK reply and the values of
// the engine that sent the command; returns the command's result (0
// failure, anything else success).
using ReplyHandler = int (*)(const char* reply, int length, ParamTable& values);

struct AtCommandRow {
    int32_t id;
    const char* command;    // as sent, before the value and CR LF; nullptr in the end row
    const char* okReply;    // "\r\nOK\r\n"; nullptr in the end row
    const char* errorReply; // "\r\nERROR\r\n"; nullptr in the end row
    int32_t timeoutMs;      // 1000 or 5000; 0 in the end row
    bool parsed;            // the reply goes to the engine's report handler (AT+SHOW only)
};

constexpr int kAtRowCount = 164;    // including the end row
constexpr int kParamRowCount = 156; // including the end row
constexpr int kEndRowId = 164;
constexpr int kParamValueMax = 99;  // bytes of a value text
constexpr int kParamLabelMax = 99;  // bytes of a label

// Well-known ids.
constexpr int kIdAt = 151;
constexpr int kIdShow = 146;
constexpr int kIdVersion = 147;
constexpr int kIdSignal = 148;
constexpr int kIdFactory = 149;
constexpr int kIdReset = 150;
constexpr int kIdClock = 152;
constexpr int kIdCounterValue1 = 153; // ..156
constexpr int kIdSerialValue1 = 157;  // ..160
constexpr int kIdRecords = 161;
constexpr int kIdInitDataFlash = 162;
constexpr int kIdInitSensor = 163;

// ---- AT command table (read-only) ----

// Every row in table order, the end row (id 164) last: kAtRowCount rows.
std::span<const AtCommandRow> AtCommandRows();
// The first row whose id equals `id` (the end row takes part), or nullptr.
const AtCommandRow* FindAtRow(int id);


// ---- parameter table (read-only) ----

// Rows in table order (the order of a configuration file's lines); row
// kParamRowCount - 1 is the end row (id 164, empty label, empty value).
int ParamRowCount();
int ParamRowId(int row);                 // -1 for a row out of range
const char* ParamRowLabel(int row);      // "" for a row out of range
// The row index of the parameter with that id, or -1 when it has none.
int FindParamRow(int id);
bool HasParamRow(int id);
// The label of the parameter with that id, or nullptr.
const char* ParamLabel(int id);

// The text cut to at most `max` bytes without splitting a double-byte
// character of code page 936: a lead byte (0x81 to 0xFE) and the byte after
// it stay together, whatever that byte is, so a long Chinese text never ends
// in a lone lead byte. A text that fits is returned whole, its bytes as they
// are.
std::string_view CutToValueLength(std::string_view text, std::size_t max = kParamValueMax);

} // namespace pell
