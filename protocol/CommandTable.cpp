#include "protocol/CommandTable.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace pell {

namespace {

constexpr const char* kOk = "\r\nOK\r\n";
constexpr const char* kError = "\r\nERROR\r\n";

std::atomic<ReplyHandler> reportHandler{nullptr};

// The AT+SHOW row's handler: the report parser is installed at run time,
// because it lives with the configuration jobs, above this table.
int CallReportHandler(const char* reply, int length)
{
    ReplyHandler handler = reportHandler.load(std::memory_order_acquire);
    return handler != nullptr ? handler(reply, length) : 1;
}

// In table order; the order is what the controller and the configuration
// files expect, so it is not the id order (ids 13 and 12 are swapped, the
// counter and serial values sit between their neighbours).
constexpr AtCommandRow kAtRows[] = {
    {151, "AT", kOk, kError, 5000, nullptr},
    {0, "AT+IDNT=", kOk, kError, 1000, nullptr},
    {1, "AT+PHON=", kOk, kError, 1000, nullptr},
    {2, "AT+ADMINNO=", kOk, kError, 1000, nullptr},
    {3, "AT+DEBUG=", kOk, kError, 1000, nullptr},
    {4, "AT+NFCUSERID01=", kOk, kError, 1000, nullptr},
    {5, "AT+NFCUSERID02=", kOk, kError, 1000, nullptr},
    {6, "AT+VOLUMELVL=", kOk, kError, 1000, nullptr},
    {7, "AT+ACTI=", kOk, kError, 1000, nullptr},
    {8, "AT+CTRLNO=", kOk, kError, 1000, nullptr},
    {9, "AT+SMSDPSWD=", kOk, kError, 1000, nullptr},
    {10, "AT+DONPSWD=", kOk, kError, 1000, nullptr},
    {11, "AT+DOFFPSWD=", kOk, kError, 1000, nullptr},
    {13, "AT+NETMODE01=", kOk, kError, 5000, nullptr},
    {12, "AT+MULTISER01=", kOk, kError, 1000, nullptr},
    {14, "AT+MULTIPORT01=", kOk, kError, 1000, nullptr},
    {15, "AT+BACKSER=", kOk, kError, 1000, nullptr},
    {16, "AT+BACKPORT=", kOk, kError, 1000, nullptr},
    {17, "AT+MULTIDNS01=", kOk, kError, 1000, nullptr},
    {18, "AT+BACKDNS=", kOk, kError, 1000, nullptr},
    {19, "AT+APN=", kOk, kError, 1000, nullptr},
    {20, "AT+USERNAME=", kOk, kError, 1000, nullptr},
    {21, "AT+USERPASSWORD=", kOk, kError, 1000, nullptr},
    {22, "AT+CALLNO=", kOk, kError, 1000, nullptr},
    {23, "AT+HRTTIME=", kOk, kError, 1000, nullptr},
    {24, "AT+UPNTRVL=", kOk, kError, 1000, nullptr},
    {25, "AT+UPINCVAL=", kOk, kError, 1000, nullptr},
    {26, "AT+STRAIGHT=", kOk, kError, 1000, nullptr},
    {27, "AT+TCPMTU=", kOk, kError, 1000, nullptr},
    {28, "AT+MCONTIME=", kOk, kError, 1000, nullptr},
    {29, "AT+RETRY=", kOk, kError, 1000, nullptr},
    {30, "AT+WTRCHNNL01=", kOk, kError, 1000, nullptr},
    {31, "AT+WTRCHNNL02=", kOk, kError, 1000, nullptr},
    {32, "AT+WTRCHNNL03=", kOk, kError, 1000, nullptr},
    {33, "AT+WTRCHNNL04=", kOk, kError, 1000, nullptr},
    {34, "AT+WTRCHNNL05=", kOk, kError, 1000, nullptr},
    {35, "AT+WTRCHNNL06=", kOk, kError, 1000, nullptr},
    {36, "AT+LVWTRLRM=", kOk, kError, 1000, nullptr},
    {37, "AT+CHCKWTRMIN=", kOk, kError, 1000, nullptr},
    {38, "AT+ELECHNNL=", kOk, kError, 1000, nullptr},
    {39, "AT+BCKCHNNL=", kOk, kError, 1000, nullptr},
    {40, "AT+ELE2WTR=", kOk, kError, 1000, nullptr},
    {41, "AT+ELEENERGY=", kOk, kError, 1000, nullptr},
    {42, "AT+NOELECLOSE=", kOk, kError, 1000, nullptr},
    {43, "AT+ELEOPEN=", kOk, kError, 1000, nullptr},
    {44, "AT+ELEUPPER=", kOk, kError, 1000, nullptr},
    {45, "AT+ELELOWER=", kOk, kError, 1000, nullptr},
    {46, "AT+ELEVAL=", kOk, kError, 1000, nullptr},
    {47, "AT+VOLOPEN=", kOk, kError, 1000, nullptr},
    {48, "AT+VOLUPPER=", kOk, kError, 1000, nullptr},
    {49, "AT+VOLLOWER=", kOk, kError, 1000, nullptr},
    {50, "AT+VOLVAL=", kOk, kError, 1000, nullptr},
    {51, "AT+VOLMULTIPLE=", kOk, kError, 1000, nullptr},
    {52, "AT+SEC2WTR=", kOk, kError, 1000, nullptr},
    {53, "AT+IIOCOLTIME01=", kOk, kError, 1000, nullptr},
    {54, "AT+IIOSVTIME01=", kOk, kError, 1000, nullptr},
    {55, "AT+IIOLRMOP01=", kOk, kError, 1000, nullptr},
    {56, "AT+IIOTYPE01=", kOk, kError, 1000, nullptr},
    {57, "AT+IIOCOLTIME02=", kOk, kError, 1000, nullptr},
    {58, "AT+IIOSVTIME02=", kOk, kError, 1000, nullptr},
    {59, "AT+IIOLRMOP02=", kOk, kError, 1000, nullptr},
    {60, "AT+IIOTYPE02=", kOk, kError, 1000, nullptr},
    {61, "AT+IIOCOLTIME03=", kOk, kError, 1000, nullptr},
    {62, "AT+IIOSVTIME03=", kOk, kError, 1000, nullptr},
    {63, "AT+IIOLRMOP03=", kOk, kError, 1000, nullptr},
    {64, "AT+IIOTYPE03=", kOk, kError, 1000, nullptr},
    {65, "AT+IIOCOLTIME04=", kOk, kError, 1000, nullptr},
    {66, "AT+IIOSVTIME04=", kOk, kError, 1000, nullptr},
    {67, "AT+IIOLRMOP04=", kOk, kError, 1000, nullptr},
    {68, "AT+IIOTYPE04=", kOk, kError, 1000, nullptr},
    {69, "AT+RELAYDEF01=", kOk, kError, 1000, nullptr},
    {70, "AT+RELAYTYPE01=", kOk, kError, 1000, nullptr},
    {71, "AT+RELAYDEF02=", kOk, kError, 1000, nullptr},
    {72, "AT+RELAYTYPE02=", kOk, kError, 1000, nullptr},
    {73, "AT+RELAYDEF03=", kOk, kError, 1000, nullptr},
    {74, "AT+RELAYTYPE03=", kOk, kError, 1000, nullptr},
    {75, "AT+RELAYDEF04=", kOk, kError, 1000, nullptr},
    {76, "AT+RELAYTYPE04=", kOk, kError, 1000, nullptr},
    {77, "AT+RELAYMAN=", kOk, kError, 1000, nullptr},
    {78, "AT+LOCKDLY=", kOk, kError, 1000, nullptr},
    {79, "AT+RLYMANPROT=", kOk, kError, 1000, nullptr},
    {80, "AT+RLYTYPE=", kOk, kError, 1000, nullptr},
    {81, "AT+CNTROP01=", kOk, kError, 1000, nullptr},
    {82, "AT+CNTRUNIT01=", kOk, kError, 1000, nullptr},
    {153, "AT+CNTRVAL01", kOk, kError, 1000, nullptr},
    {83, "AT+CNTRSVTIME01=", kOk, kError, 1000, nullptr},
    {84, "AT+CNTRTYPE01=", kOk, kError, 1000, nullptr},
    {85, "AT+CNTROP02=", kOk, kError, 1000, nullptr},
    {86, "AT+CNTRUNIT02=", kOk, kError, 1000, nullptr},
    {154, "AT+CNTRVAL02", kOk, kError, 1000, nullptr},
    {87, "AT+CNTRSVTIME02=", kOk, kError, 1000, nullptr},
    {88, "AT+CNTRTYPE02=", kOk, kError, 1000, nullptr},
    {89, "AT+CNTROP03=", kOk, kError, 1000, nullptr},
    {90, "AT+CNTRUNIT03=", kOk, kError, 1000, nullptr},
    {155, "AT+CNTRVAL03", kOk, kError, 1000, nullptr},
    {91, "AT+CNTRSVTIME03=", kOk, kError, 1000, nullptr},
    {92, "AT+CNTRTYPE03=", kOk, kError, 1000, nullptr},
    {93, "AT+CNTROP04=", kOk, kError, 1000, nullptr},
    {94, "AT+CNTRUNIT04=", kOk, kError, 1000, nullptr},
    {156, "AT+CNTRVAL04", kOk, kError, 1000, nullptr},
    {95, "AT+CNTRSVTIME04=", kOk, kError, 1000, nullptr},
    {96, "AT+CNTRTYPE04=", kOk, kError, 1000, nullptr},
    {97, "AT+COMSPEED01=", kOk, kError, 1000, nullptr},
    {98, "AT+COMPARITY01=", kOk, kError, 1000, nullptr},
    {99, "AT+COMCOLTIME01=", kOk, kError, 1000, nullptr},
    {100, "AT+COMSVTIME01=", kOk, kError, 1000, nullptr},
    {101, "AT+COMTYPE01=", kOk, kError, 1000, nullptr},
    {157, "AT+COMVAL01", kOk, kError, 1000, nullptr},
    {102, "AT+COMSPEED02=", kOk, kError, 1000, nullptr},
    {103, "AT+COMPARITY02=", kOk, kError, 1000, nullptr},
    {104, "AT+COMCOLTIME02=", kOk, kError, 1000, nullptr},
    {105, "AT+COMSVTIME02=", kOk, kError, 1000, nullptr},
    {106, "AT+COMTYPE02=", kOk, kError, 1000, nullptr},
    {158, "AT+COMVAL02", kOk, kError, 1000, nullptr},
    {107, "AT+COMSPEED03=", kOk, kError, 1000, nullptr},
    {108, "AT+COMPARITY03=", kOk, kError, 1000, nullptr},
    {109, "AT+COMCOLTIME03=", kOk, kError, 1000, nullptr},
    {110, "AT+COMSVTIME03=", kOk, kError, 1000, nullptr},
    {111, "AT+COMTYPE03=", kOk, kError, 1000, nullptr},
    {159, "AT+COMVAL03", kOk, kError, 1000, nullptr},
    {112, "AT+COMSPEED04=", kOk, kError, 1000, nullptr},
    {113, "AT+COMPARITY04=", kOk, kError, 1000, nullptr},
    {114, "AT+COMCOLTIME04=", kOk, kError, 1000, nullptr},
    {115, "AT+COMSVTIME04=", kOk, kError, 1000, nullptr},
    {116, "AT+COMTYPE04=", kOk, kError, 1000, nullptr},
    {160, "AT+COMVAL04", kOk, kError, 1000, nullptr},
    {117, "AT+CNTSVLEN01=", kOk, kError, 1000, nullptr},
    {118, "AT+COMSVLEN01=", kOk, kError, 1000, nullptr},
    {119, "AT+CNTSVLEN02=", kOk, kError, 1000, nullptr},
    {120, "AT+COMSVLEN02=", kOk, kError, 1000, nullptr},
    {121, "AT+CNTSVLEN03=", kOk, kError, 1000, nullptr},
    {122, "AT+COMSVLEN03=", kOk, kError, 1000, nullptr},
    {123, "AT+CNTSVLEN04=", kOk, kError, 1000, nullptr},
    {124, "AT+COMSVLEN04=", kOk, kError, 1000, nullptr},
    {125, "AT+NFCSVLEN=", kOk, kError, 1000, nullptr},
    {126, "AT+IFERASESV=", kOk, kError, 1000, nullptr},
    {127, "AT+LOCKUSERCARD=", kOk, kError, 1000, nullptr},
    {128, "AT+ELEERRPRT=", kOk, kError, 1000, nullptr},
    {129, "AT+WTRERRPRT=", kOk, kError, 1000, nullptr},
    {130, "AT+ELEFILTERA=", kOk, kError, 1000, nullptr},
    {131, "AT+PHONE1=", kOk, kError, 1000, nullptr},
    {132, "AT+PHONE2=", kOk, kError, 1000, nullptr},
    {133, "AT+PHONE3=", kOk, kError, 1000, nullptr},
    {134, "AT+PHONE4=", kOk, kError, 1000, nullptr},
    {135, "AT+HEXSMS=", kOk, kError, 1000, nullptr},
    {136, "AT+OPENSMSBCKP=", kOk, kError, 1000, nullptr},
    {137, "AT+SMSDIS=", kOk, kError, 1000, nullptr},
    {138, "AT+MBMODE=", kOk, kError, 1000, nullptr},
    {139, "AT+MBADDRESS=", kOk, kError, 1000, nullptr},
    {140, "AT+ADCMODE1=", kOk, kError, 1000, nullptr},
    {141, "AT+ADCMODE2=", kOk, kError, 1000, nullptr},
    {142, "AT+DIOWORKMODE1=", kOk, kError, 1000, nullptr},
    {143, "AT+DIOWORKMODE2=", kOk, kError, 1000, nullptr},
    {144, "AT+DIOWORKMODE3=", kOk, kError, 1000, nullptr},
    {146, "AT+SHOW", kOk, kError, 5000, &CallReportHandler},
    {147, "AT+VER", kOk, kError, 5000, nullptr},
    {148, "AT+CSQ", kOk, kError, 5000, nullptr},
    {149, "AT+FACTORY", kOk, kError, 5000, nullptr},
    {150, "AT+RESET", kOk, kError, 5000, nullptr},
    {152, "AT+EXCCLK=", kOk, kError, 1000, nullptr},
    {161, "AT+RDNFCRCRD=", kOk, kError, 5000, nullptr},
    {162, "AT+INITDATAFLASH", kOk, kError, 5000, nullptr},
    {163, "AT+INITSENSOR", kOk, kError, 5000, nullptr},
    {164, nullptr, nullptr, nullptr, 0, nullptr},
};
static_assert(std::size(kAtRows) == kAtRowCount);

struct ParamRowDef {
    int32_t id;
    const char* label;
};

// The rows of the AT table that carry a value, in the same order.
constexpr ParamRowDef kParamRows[] = {
    {0, "Modem's ID number:"},
    {1, "Modem's Phone Number:"},
    {2, "Administrators Phone Number:"},
    {3, "Debug Level:"},
    {4, "Nfc1 user id:"},
    {5, "Nfc2 user id:"},
    {6, "Audio volume level:"},
    {7, "Activate Method:"},
    {8, "Control Phone No.:"},
    {9, "Sms Daemon Password:"},
    {10, "Data Daemon PPP On Password:"},
    {11, "Data Daemon PPP Off Password:"},
    {13, "Server1's connect mode:"},
    {12, "Server1's Ip:"},
    {14, "Server1's port:"},
    {15, "Back Server's Ip:"},
    {16, "Back Server's port:"},
    {17, "Server1's dns:"},
    {18, "Back Server's dns:"},
    {19, "Modem Apn:"},
    {20, "Modem user name:"},
    {21, "Modem user pasword:"},
    {22, "Modem call NO:"},
    {23, "Heart time:"},
    {24, "Upload interval:"},
    {25, "upload increment value:"},
    {26, "Deliver Recved Tcp Data Directly"},
    {27, "Max Tcp Frame Len:"},
    {28, "Multi Server Reconnect Interval:"},
    {29, "Link Fail Retry Times:"},
    {30, "Water1 channel:"},
    {31, "Water2 channel:"},
    {32, "Water3 channel:"},
    {33, "Water4 channel:"},
    {34, "Water5 channel:"},
    {35, "Water6 channel:"},
    {36, "Leave water alarm:"},
    {37, "Check water minute:"},
    {38, "Elect channel:"},
    {39, "Back water channel:"},
    {40, "Elect to water:"},
    {41, "Elect energy unit:"},
    {42, "Elect no close:"},
    {43, "Elect protect:"},
    {44, "Elect upper:"},
    {45, "Elect lower:"},
    {46, "Elect current value:"},
    {47, "Voltage protect:"},
    {48, "Voltage upper:"},
    {49, "Voltage lower:"},
    {50, "Elect Voltage value:"},
    {51, "Elect Voltage multiple:"},
    {52, "Second change to water:"},
    {53, "In io1 collect time:"},
    {54, "In io1 save time:"},
    {55, "In io1 alarm operator:"},
    {56, "In io1 type:"},
    {57, "In io2 collect time:"},
    {58, "In io2 save time:"},
    {59, "In io2 alarm operator:"},
    {60, "In io2 type:"},
    {61, "In io3 collect time:"},
    {62, "In io3 save time:"},
    {63, "In io3 alarm operator:"},
    {64, "In io3 type:"},
    {65, "In io4 collect time:"},
    {66, "In io4 save time:"},
    {67, "In io4 alarm operator:"},
    {68, "In io4 type:"},
    {69, "Relay1 default vaule:"},
    {70, "Relay1 type:"},
    {71, "Relay2 default vaule:"},
    {72, "Relay2 type:"},
    {73, "Relay3 default vaule:"},
    {74, "Relay3 type:"},
    {75, "Relay4 default vaule:"},
    {76, "Relay4 type:"},
    {77, "Relay main control:"},
    {78, "Relay lock delay:"},
    {79, "Relay main protect:"},
    {80, "Relay type:"},
    {81, "Counter1 operator:"},
    {82, "Counter1 Unit:"},
    {153, "CNTRVAL01:"},
    {83, "Counter1 save time:"},
    {84, "Counter1 type:"},
    {85, "Counter2 operator:"},
    {86, "Counter2 Unit:"},
    {154, "CNTRVAL02:"},
    {87, "Counter2 save time:"},
    {88, "Counter2 type:"},
    {89, "Counter3 operator:"},
    {90, "Counter3 Unit:"},
    {155, "CNTRVAL03:"},
    {91, "Counter3 save time:"},
    {92, "Counter3 type:"},
    {93, "Counter4 operator:"},
    {94, "Counter4 Unit:"},
    {156, "CNTRVAL04:"},
    {95, "Counter4 save time:"},
    {96, "Counter4 type:"},
    {97, "Serial1 Baudrate:"},
    {98, "Serial1 port commu mode:"},
    {99, "Serial1 collect time:"},
    {100, "Serial1 save time:"},
    {101, "Serial1 type:"},
    {157, "COMVAL01:"},
    {102, "Serial2 Baudrate:"},
    {103, "Serial2 port commu mode:"},
    {104, "Serial2 collect time:"},
    {105, "Serial2 save time:"},
    {106, "Serial2 type:"},
    {158, "COMVAL02:"},
    {107, "Serial3 Baudrate:"},
    {108, "Serial3 port commu mode:"},
    {109, "Serial3 collect time:"},
    {110, "Serial3 save time:"},
    {111, "Serial3 type:"},
    {159, "COMVAL03:"},
    {112, "Serial4 Baudrate:"},
    {113, "Serial4 port commu mode:"},
    {114, "Serial4 collect time:"},
    {115, "Serial4 save time:"},
    {116, "Serial4 type:"},
    {160, "COMVAL04:"},
    {117, "Counter1 save length:"},
    {118, "Serial1 save length:"},
    {119, "Counter2 save length:"},
    {120, "Serial2 save length:"},
    {121, "Counter3 save length:"},
    {122, "Serial3 save length:"},
    {123, "Counter4 save length:"},
    {124, "Serial4 save length:"},
    {125, "Nfc save len:"},
    {126, "If erase save:"},
    {127, "Lock user card:"},
    {128, "Ele commu error:"},
    {129, "Water commu error:"},
    {130, "Ele filter a:"},
    {131, "sms Phone1 No.:"},
    {132, "sms Phone2 No.:"},
    {133, "sms Phone3 No.:"},
    {134, "sms Phone4 No.:"},
    {135, "sms hex:"},
    {136, "sms backup function:"},
    {137, "SMS Content display fun:"},
    {138, "Mobus workmode:"},
    {139, "Mobus address:"},
    {140, "ADC1 workmode:"},
    {141, "ADC2 workmode:"},
    {142, "DIO1 workmode:"},
    {143, "DIO2 workmode:"},
    {144, "DIO3 workmode:"},
    {152, "System Time:"},
    {161, "Record:"},
    {164, ""},
};
static_assert(std::size(kParamRows) == kParamRowCount);

// The working copy of the controller's parameter set.
std::mutex valueMutex;
char values[kParamRowCount][kParamValueMax + 1] = {};

} // namespace

std::span<const AtCommandRow> AtCommandRows()
{
    return kAtRows;
}

const AtCommandRow* FindAtRow(int id)
{
    for (const AtCommandRow& row : kAtRows) {
        if (row.id == id)
            return &row;
    }
    return nullptr;
}

void SetReportHandler(ReplyHandler handler)
{
    reportHandler.store(handler, std::memory_order_release);
}

ReplyHandler ReportHandler()
{
    return reportHandler.load(std::memory_order_acquire);
}

int ParamRowCount()
{
    return kParamRowCount;
}

int ParamRowId(int row)
{
    return row >= 0 && row < kParamRowCount ? kParamRows[row].id : -1;
}

const char* ParamRowLabel(int row)
{
    return row >= 0 && row < kParamRowCount ? kParamRows[row].label : "";
}

int FindParamRow(int id)
{
    for (int row = 0; row < kParamRowCount; ++row) {
        if (kParamRows[row].id == id)
            return row;
    }
    return -1;
}

bool HasParamRow(int id)
{
    return FindParamRow(id) >= 0;
}

const char* ParamLabel(int id)
{
    int row = FindParamRow(id);
    return row >= 0 ? kParamRows[row].label : nullptr;
}

bool GetParamValue(int id, std::string& value)
{
    int row = FindParamRow(id);
    if (row < 0) {
        value.clear();
        return false;
    }
    std::lock_guard<std::mutex> lock(valueMutex);
    value.assign(values[row]);
    return true;
}

std::optional<std::string> GetParamValue(int id)
{
    std::string value;
    if (!GetParamValue(id, value))
        return std::nullopt;
    return value;
}

std::string_view CutToValueLength(std::string_view text, std::size_t max)
{
    if (text.size() <= max)
        return text;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto b = static_cast<unsigned char>(text[at]);
        const std::size_t step = b >= 0x81 && b <= 0xFE && at + 1 < text.size() ? 2 : 1;
        if (at + step > max)
            break;
        at += step;
    }
    return text.substr(0, at);
}

void SetParamValue(int id, std::string_view text)
{
    int row = FindParamRow(id);
    // The end row marks the end of the table and the files; it stays empty.
    if (row < 0 || id == kEndRowId)
        return;
    std::size_t n = CutToValueLength(text).size();
    // A value is a zero-terminated text: whatever follows a zero byte would
    // never be sent or written, so it is not kept either.
    if (n > 0) {
        if (const void* zero = std::memchr(text.data(), '\0', n))
            n = static_cast<const char*>(zero) - text.data();
    }
    std::lock_guard<std::mutex> lock(valueMutex);
    if (n > 0)
        std::memcpy(values[row], text.data(), n);
    values[row][n] = '\0';
}

} // namespace pell
