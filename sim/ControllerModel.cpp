#include "sim/ControllerModel.h"

#include "common/Clock.h"
#include "protocol/CommandTable.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace pell::sim {

namespace {

// Factory settings by id, as a new controller leaves the works: a 10-digit
// device id, the carrier's APN, the operator's server, every channel, relay
// and input off or at its usual code.
const char* const kFactory[kParamCount] = {
    "4201230017",      // 0 Modem's ID number
    "13800138000",     // 1 Modem's Phone Number
    "13912345678",     // 2 Administrators Phone Number
    "0",               // 3 Debug Level
    "420102000001",    // 4 Nfc1 user id (well administrative code, 12 digits)
    "42010200001",     // 5 Nfc2 user id (well water-pipe code, 11 digits)
    "8",               // 6 Audio volume level
    "0",               // 7 Activate Method
    "13912345678",     // 8 Control Phone No.
    "123456",          // 9 Sms Daemon Password
    "888888",          // 10 Data Daemon PPP On Password
    "999999",          // 11 Data Daemon PPP Off Password
    "218.76.43.10",    // 12 Server1's Ip
    "0",               // 13 Server1's connect mode (0 TCP, 1 UDP)
    "5001",            // 14 Server1's port
    "218.76.43.11",    // 15 Back Server's Ip
    "5002",            // 16 Back Server's port
    "114.114.114.114", // 17 Server1's dns
    "8.8.8.8",         // 18 Back Server's dns
    "CMNET",           // 19 Modem Apn
    "card",            // 20 Modem user name
    "card",            // 21 Modem user pasword
    "*99***1#",        // 22 Modem call NO
    "60",              // 23 Heart time
    "300",             // 24 Upload interval
    "10",              // 25 upload increment value
    "0",               // 26 Deliver Recved Tcp Data Directly
    "1024",            // 27 Max Tcp Frame Len
    "30",              // 28 Multi Server Reconnect Interval
    "3",               // 29 Link Fail Retry Times
    "1",               // 30 Water1 channel (counter 0)
    "5",               // 31 Water2 channel (RS232-0)
    "0", "0", "0", "0",// 32..35 Water3..6 channel
    "0",               // 36 Leave water alarm
    "5",               // 37 Check water minute
    "7",               // 38 Elect channel (RS485-0)
    "0",               // 39 Back water channel
    "1.5",             // 40 Elect to water
    "1",               // 41 Elect energy unit
    "0",               // 42 Elect no close
    "1",               // 43 Elect protect
    "50",              // 44 Elect upper
    "1",               // 45 Elect lower
    "0",               // 46 Elect current value
    "1",               // 47 Voltage protect
    "260",             // 48 Voltage upper
    "180",             // 49 Voltage lower
    "220",             // 50 Elect Voltage value
    "1",               // 51 Elect Voltage multiple
    "0",               // 52 Second change to water
    "10", "60", "0", "0", // 53..56 In io1 collect time, save time, alarm operator, type
    "10", "60", "0", "0", // 57..60 In io2
    "10", "60", "0", "0", // 61..64 In io3
    "10", "60", "0", "0", // 65..68 In io4
    "0", "1",          // 69, 70 Relay1 default, type
    "0", "2",          // 71, 72 Relay2
    "0", "0",          // 73, 74 Relay3
    "0", "0",          // 75, 76 Relay4
    "1",               // 77 Relay main control
    "5",               // 78 Relay lock delay
    "1",               // 79 Relay main protect
    "0",               // 80 Relay type
    "0", "1", "60", "1",  // 81..84 Counter1 operator, Unit, save time, type
    "0", "1", "60", "0",  // 85..88 Counter2
    "0", "1", "60", "0",  // 89..92 Counter3
    "0", "1", "60", "0",  // 93..96 Counter4
    "9600", "8N1", "10", "60", "2",  // 97..101 Serial1 Baudrate, mode, collect, save, type
    "9600", "8N1", "10", "60", "0",  // 102..106 Serial2
    "2400", "8E1", "10", "60", "18", // 107..111 Serial3
    "9600", "8N1", "10", "60", "0",  // 112..116 Serial4
    "16", "32", "16", "32", "16", "32", "16", "32", // 117..124 save lengths
    "64",              // 125 Nfc save len
    "0",               // 126 If erase save
    "0",               // 127 Lock user card
    "1",               // 128 Ele commu error
    "1",               // 129 Water commu error
    "10",              // 130 Ele filter a
    "13800000001",     // 131 sms Phone1 No.
    "13800000002",     // 132 sms Phone2 No.
    "13800000003",     // 133 sms Phone3 No.
    "13800000004",     // 134 sms Phone4 No.
    "0",               // 135 sms hex
    "1",               // 136 sms backup function
    "0",               // 137 SMS Content display fun
    "0",               // 138 Mobus workmode
    "1",               // 139 Mobus address
    "0", "0",          // 140, 141 ADC1, ADC2 workmode
    "0", "0", "0",     // 142..144 DIO1..3 workmode
};

bool startsWith(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

bool allDigits(const std::string& s, std::size_t from, std::size_t count)
{
    if (from + count > s.size())
        return false;
    for (std::size_t i = from; i < from + count; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

int number(const std::string& s, std::size_t from, std::size_t count)
{
    return std::stoi(s.substr(from, count));
}

int daysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0))
        return 29;
    return days[month - 1];
}

bool validTime(const DeviceTime& t)
{
    return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= daysInMonth(t.year, t.month) &&
           t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 &&
           t.second <= 59;
}

// A value the device keeps: printable bytes (code page 936 included), at
// most 99 of them.
bool acceptableValue(const std::string& v)
{
    if (v.size() > kValueMax)
        return false;
    return std::none_of(v.begin(), v.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f;
    });
}

// A counter holds a number; a serial meter's initial value one or two
// ("x,y"). Decimal fractions are allowed, signs are not.
bool acceptableNumberList(const std::string& v, int maxParts)
{
    if (v.empty() || v.size() > 32)
        return false;
    int parts = 1;
    bool digit = false, dot = false;
    for (char c : v) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digit = true;
        } else if (c == '.' && !dot && digit) {
            dot = true;
            digit = false;
        } else if (c == ',' && digit && parts < maxParts) {
            ++parts;
            digit = dot = false;
        } else {
            return false;
        }
    }
    return digit;
}

// Splits "n<sep>n<sep>n" into three numbers of 1 to 4 digits.
bool threeNumbers(const std::string& s, const char* seps, int out[3], int digits[3])
{
    std::size_t pos = 0;
    for (int k = 0; k < 3; ++k) {
        std::size_t start = pos;
        while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos])))
            ++pos;
        std::size_t len = pos - start;
        if (len == 0 || len > 4)
            return false;
        out[k] = std::stoi(s.substr(start, len));
        digits[k] = static_cast<int>(len);
        if (k < 2) {
            if (pos >= s.size() || std::strchr(seps, s[pos]) == nullptr)
                return false;
            ++pos;
        }
    }
    return pos == s.size();
}

bool parseQueryDate(const std::string& s, DeviceTime& t)
{
    int n[3], len[3];
    if (!threeNumbers(s, "/-.", n, len))
        return false;
    if (len[0] == 4) {
        t.year = n[0];
        t.month = n[1];
        t.day = n[2];
    } else if (len[2] == 4 || len[2] == 2) {
        t.month = n[0];
        t.day = n[1];
        t.year = len[2] == 2 ? 2000 + n[2] : n[2];
    } else {
        return false;
    }
    return t.year >= 1970;
}

bool parseQueryClock(const std::string& s, DeviceTime& t)
{
    int n[3], len[3];
    if (!threeNumbers(s, ":", n, len) || len[0] > 2 || len[1] > 2 || len[2] > 2)
        return false;
    t.hour = n[0];
    t.minute = n[1];
    t.second = n[2];
    return true;
}

bool parseQueryPoint(const std::string& s, DeviceTime& t)
{
    std::size_t comma = s.find(',');
    if (comma == std::string::npos || s.find(',', comma + 1) != std::string::npos)
        return false;
    return parseQueryDate(s.substr(0, comma), t) && parseQueryClock(s.substr(comma + 1), t) &&
           validTime(t);
}

std::string formatRecordDate(const CardRecord& r)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", r.year, r.month, r.day,
                  r.hour, r.minute, r.second);
    return buf;
}

DeviceTime recordTime(const CardRecord& r)
{
    return DeviceTime{r.year, r.month, r.day, r.hour, r.minute, r.second};
}

// The PC's local time read as a zone-less calendar time.
DeviceTime localNow()
{
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return DeviceTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

} // namespace

int64_t ToSeconds(const DeviceTime& t)
{
    // Days from civil (proleptic Gregorian), so no time zone takes part.
    int y = t.year - (t.month <= 2 ? 1 : 0);
    int era = (y >= 0 ? y : y - 399) / 400;
    int yoe = y - era * 400;
    int mp = (t.month + 9) % 12;
    int doy = (153 * mp + 2) / 5 + t.day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

DeviceTime FromSeconds(int64_t seconds)
{
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    int64_t rest = seconds - days * 86400;
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t doe = days - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    DeviceTime t;
    t.year = static_cast<int>(y + (m <= 2 ? 1 : 0));
    t.month = m;
    t.day = d;
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest % 3600 / 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

int Weekday(const DeviceTime& t)
{
    int64_t days = ToSeconds(DeviceTime{t.year, t.month, t.day, 0, 0, 0}) / 86400;
    // 1970-01-01 was a Thursday.
    return static_cast<int>(((days % 7) + 7 + 4) % 7);
}

bool ParseClockText(const std::string& text, DeviceTime& t, int& weekday)
{
    std::string s = text;
    bool quoted = !s.empty() && s[0] == '"';
    // Quoted form: the date and time stand between the quotes, the weekday
    // follows the closing quote and a comma.
    if (quoted) {
        if (s.size() != 23 || s[20] != '"' || s[21] != ',')
            return false;
        s = s.substr(1, 19) + s.substr(21);
    }
    // 2026/12/08,13:05:09,2
    if (s.size() != 21)
        return false;
    if (!allDigits(s, 0, 4) || s[4] != '/' || !allDigits(s, 5, 2) || s[7] != '/' ||
        !allDigits(s, 8, 2) || s[10] != ',' || !allDigits(s, 11, 2) || s[13] != ':' ||
        !allDigits(s, 14, 2) || s[16] != ':' || !allDigits(s, 17, 2) || s[19] != ',' ||
        !allDigits(s, 20, 1))
        return false;
    t.year = number(s, 0, 4);
    t.month = number(s, 5, 2);
    t.day = number(s, 8, 2);
    t.hour = number(s, 11, 2);
    t.minute = number(s, 14, 2);
    t.second = number(s, 17, 2);
    weekday = number(s, 20, 1);
    // The real-time clock counts years 2000 to 2099.
    if (t.year < 2000 || t.year > 2099 || !validTime(t))
        return false;
    return weekday == Weekday(t);
}

bool ParseRecordQuery(const std::string& text, DeviceTime& from, DeviceTime& to)
{
    if (text.size() < 2 || text[0] != ';')
        return false;
    std::size_t second = text.find(';', 1);
    if (second == std::string::npos || text.find(';', second + 1) != std::string::npos)
        return false;
    return parseQueryPoint(text.substr(1, second - 1), from) &&
           parseQueryPoint(text.substr(second + 1), to);
}

ControllerModel::ControllerModel()
{
    RestoreFactory();
    counters_.fill("0");
    serials_.fill("0");
    DeviceTime today = localNow();
    records_ = Simulator::SampleRecords(today.year, today.month, today.day, 36);
}

const char* ControllerModel::VersionText()
{
    return "\r\nSoftware version: WC-3 V2.31.07 2024-05-16\r\nHardware version: V1.2\r\n";
}

const char* ControllerModel::SignalText()
{
    return "\r\n+CSQ: 24,99\r\n";
}

std::optional<std::string> ControllerModel::FactoryValue(int id)
{
    if (id < 0 || id >= kParamCount)
        return std::nullopt;
    return std::string(kFactory[id]);
}

void ControllerModel::RestoreFactory()
{
    for (int id = 0; id < kParamCount; ++id)
        values_[static_cast<std::size_t>(id)] = kFactory[id];
}

std::optional<std::string> ControllerModel::Param(int id) const
{
    if (id < 0 || id >= kParamCount)
        return std::nullopt;
    return values_[static_cast<std::size_t>(id)];
}

bool ControllerModel::SetParam(int id, const std::string& value)
{
    if (id < 0 || id >= kParamCount || !acceptableValue(value))
        return false;
    values_[static_cast<std::size_t>(id)] = value;
    return true;
}

std::string ControllerModel::CounterValue(int index) const
{
    return index >= 0 && index < 4 ? counters_[static_cast<std::size_t>(index)] : std::string();
}

bool ControllerModel::SetCounterValue(int index, const std::string& value)
{
    // "x,y" as for the serial meters: the counter page's edit reads
    // "初值(x,y)".
    if (index < 0 || index >= 4 || !acceptableNumberList(value, 2))
        return false;
    counters_[static_cast<std::size_t>(index)] = value;
    return true;
}

std::string ControllerModel::SerialValue(int index) const
{
    return index >= 0 && index < 4 ? serials_[static_cast<std::size_t>(index)] : std::string();
}

bool ControllerModel::SetSerialValue(int index, const std::string& value)
{
    if (index < 0 || index >= 4 || !acceptableNumberList(value, 2))
        return false;
    serials_[static_cast<std::size_t>(index)] = value;
    return true;
}

DeviceTime ControllerModel::Now() const
{
    if (clockBase_ == 0)
        return localNow();
    return FromSeconds(clockBase_ + (monotonicMs() - clockSetAtMs_) / 1000);
}

void ControllerModel::SetRecords(const std::vector<CardRecord>& records)
{
    records_ = records;
    queryOpen_ = false;
    pending_.clear();
}

std::string ControllerModel::Report() const
{
    std::string out = "\r\n";
    for (int row = 0; row < ParamRowCount(); ++row) {
        int id = ParamRowId(row);
        std::string value;
        if (id >= 0 && id < kParamCount) {
            value = values_[static_cast<std::size_t>(id)];
        } else if (id == kIdClock) {
            DeviceTime t = Now();
            char buf[40];
            std::snprintf(buf, sizeof buf, "%d/%02d/%02d,%02d:%02d:%02d,%d", t.year, t.month,
                          t.day, t.hour, t.minute, t.second, Weekday(t));
            value = buf;
        } else if (id >= kIdCounterValue1 && id < kIdCounterValue1 + 4) {
            value = counters_[static_cast<std::size_t>(id - kIdCounterValue1)];
        } else if (id >= kIdSerialValue1 && id < kIdSerialValue1 + 4) {
            value = serials_[static_cast<std::size_t>(id - kIdSerialValue1)];
        } else {
            continue; // the record query and the end row are no settings
        }
        std::string line = ParamRowLabel(row);
        line.append(line.size() < 34 ? 34 - line.size() : 2, ' ');
        line += value;
        line += "\r\n";
        out += line;
    }
    return out;
}

CommandReply ControllerModel::Execute(const std::string& line)
{
    for (const AtCommandRow& row : AtCommandRows()) {
        if (row.command == nullptr)
            continue;
        std::string command = row.command;
        const bool takesValue = !command.empty() && command.back() == '=';
        const bool initialValue = row.id >= kIdCounterValue1 && row.id < kIdSerialValue1 + 4;
        if (takesValue) {
            if (!startsWith(line, command.c_str()))
                continue;
            std::string value = line.substr(command.size());
            if (row.id >= 0 && row.id < kParamCount)
                return Set(row.id, value);
            if (row.id == kIdClock)
                return Clock(value);
            if (row.id == kIdRecords)
                return RecordQuery(value);
            return CommandReply{kErrorReply, 0, false, true};
        }
        if (initialValue) {
            if (startsWith(line, command.c_str()) && line.size() > command.size() &&
                (line[command.size()] == '?' || line[command.size()] == '='))
                return InitialValue(row.id, line.substr(command.size()));
            continue;
        }
        if (line != command)
            continue;
        CommandReply reply{kOkReply, 0, false, true};
        switch (row.id) {
        case kIdShow:
            reply.text = Report() + kOkReply;
            break;
        case kIdVersion:
            reply.text = std::string(VersionText()) + kOkReply;
            break;
        case kIdSignal:
            reply.text = std::string(SignalText()) + kOkReply;
            break;
        case kIdFactory:
            RestoreFactory();
            break;
        case kIdReset:
            reply.restartAfter = true;
            break;
        case kIdInitDataFlash:
            // Erasing the record store takes the flash a moment.
            records_.clear();
            queryOpen_ = false;
            pending_.clear();
            reply.workMs = eraseMs_;
            break;
        case kIdInitSensor:
            counters_.fill("0");
            serials_.fill("0");
            break;
        default: // plain AT
            break;
        }
        return reply;
    }
    return CommandReply{kErrorReply, 0, false, false};
}

CommandReply ControllerModel::Set(int id, const std::string& value)
{
    if (!SetParam(id, value))
        return CommandReply{kErrorReply, 0, false, true};
    return CommandReply{kOkReply, 0, false, true};
}

CommandReply ControllerModel::InitialValue(int id, const std::string& rest)
{
    const bool counter = id < kIdSerialValue1;
    const int index = counter ? id - kIdCounterValue1 : id - kIdSerialValue1;
    if (rest == "?") {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, counter ? "CNTRVAL%02d:" : "COMVAL%02d:", index + 1);
        std::string value = counter ? CounterValue(index) : SerialValue(index);
        return CommandReply{"\r\n" + std::string(prefix) + value + "\r\n" + kOkReply, 0, false,
                            true};
    }
    if (rest.size() > 1 && rest[0] == '=') {
        std::string value = rest.substr(1);
        bool ok = counter ? SetCounterValue(index, value) : SetSerialValue(index, value);
        return CommandReply{ok ? kOkReply : kErrorReply, 0, false, true};
    }
    return CommandReply{kErrorReply, 0, false, true};
}

CommandReply ControllerModel::Clock(const std::string& value)
{
    DeviceTime t;
    int weekday = 0;
    if (!ParseClockText(value, t, weekday))
        return CommandReply{kErrorReply, 0, false, true};
    clockText_ = value;
    ++clockSets_;
    clockBase_ = ToSeconds(t);
    clockSetAtMs_ = monotonicMs();
    return CommandReply{kOkReply, 0, false, true};
}

CommandReply ControllerModel::RecordQuery(const std::string& value)
{
    // The tool asks for the next batch with the bare command (its value is
    // CR LF "OK" CR LF, which ends the line at once).
    if (value.empty()) {
        if (!queryOpen_)
            return CommandReply{kErrorReply, 0, false, true};
        return CommandReply{NextRecordBatch(), 0, false, true};
    }
    DeviceTime from, to;
    if (!ParseRecordQuery(value, from, to)) {
        queryOpen_ = false;
        return CommandReply{kErrorReply, 0, false, true};
    }
    const int64_t a = ToSeconds(from), b = ToSeconds(to);
    pending_.clear();
    for (const CardRecord& r : records_) {
        int64_t when = ToSeconds(recordTime(r));
        if (when >= a && when <= b)
            pending_.push_back(r);
    }
    std::stable_sort(pending_.begin(), pending_.end(), [](const CardRecord& x, const CardRecord& y) {
        return ToSeconds(recordTime(x)) < ToSeconds(recordTime(y));
    });
    pendingNext_ = 0;
    pendingSeq_ = 0;
    queryOpen_ = true;
    return CommandReply{std::string(kOkReply) + NextRecordBatch(), 0, false, true};
}

std::string ControllerModel::NextRecordBatch()
{
    std::string out;
    std::size_t end = std::min(pending_.size(), pendingNext_ + static_cast<std::size_t>(recordsPerBatch_));
    for (; pendingNext_ < end; ++pendingNext_) {
        const CardRecord& r = pending_[pendingNext_];
        out += "Record:" + std::to_string(++pendingSeq_) + ";" + r.card + ";" + r.water + ";" +
               r.electricity + ";" + r.duration + ";" + r.price + ";" + r.remainingWater + ";" +
               r.remainingMoney + ";" + formatRecordDate(r) + "\r\n";
    }
    if (pendingNext_ < pending_.size())
        return out + kLeaveReply;
    queryOpen_ = false;
    pending_.clear();
    return out + kOkReply;
}

} // namespace pell::sim
