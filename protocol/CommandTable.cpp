#include "protocol/CommandTable.h"

#include <algorithm>
#include <atomic>

namespace pell {

namespace {

constexpr const char* kOk = "\r\nOK\r\n";
constexpr const char* kError = "\r\nERROR\r\n";

// In table order; the order is what the controller and the configuration
// files expect, so it is not the id order (ids 13 and 12 are swapped, the
// counter and serial values sit between their neighbours).
constexpr AtCommandRow kAtRows[] = {
    {151, "AT", kOk, kError, 5000, false},
    {0, "AT+IDNT=", kOk, kError, 1000, false},
    {1, "AT+PHON=", kOk, kError, 1000, false},
    {2, "AT+ADMINNO=", kOk, kError, 1000, false},
    {3, "AT+DEBUG=", kOk, kError, 1000, false},
    {4, "AT+NFCUSERID01=", kOk, kError, 1000, false},
    {5, "AT+NFCUSERID02=", kOk, kError, 1000, false},
    {6, "AT+VOLUMELVL=", kOk, kError, 1000, false},
    {7, "AT+ACTI=", kOk, kError, 1000, false},
    {8, "AT+CTRLNO=", kOk, kError, 1000, false},
    {9, "AT+SMSDPSWD=", kOk, kError, 1000, false},
    {10, "AT+DONPSWD=", kOk, kError, 1000, false},
    {11, "AT+DOFFPSWD=", kOk, kError, 1000, false},
    {13, "AT+NETMODE01=", kOk, kError, 5000, false},
    {12, "AT+MULTISER01=", kOk, kError, 1000, false},
    {14, "AT+MULTIPORT01=", kOk, kError, 1000, false},
    {15, "AT+BACKSER=", kOk, kError, 1000, false},
    {16, "AT+BACKPORT=", kOk, kError, 1000, false},
    {17, "AT+MULTIDNS01=", kOk, kError, 1000, false},
    {18, "AT+BACKDNS=", kOk, kError, 1000, false},
    {19, "AT+APN=", kOk, kError, 1000, false},
    {20, "AT+USERNAME=", kOk, kError, 1000, false},
    {21, "AT+USERPASSWORD=", kOk, kError, 1000, false},
    {22, "AT+CALLNO=", kOk, kError, 1000, false},
    {23, "AT+HRTTIME=", kOk, kError, 1000, false},
    {24, "AT+UPNTRVL=", kOk, kError, 1000, false},
    {25, "AT+UPINCVAL=", kOk, kError, 1000, false},
    {26, "AT+STRAIGHT=", kOk, kError, 1000, false},
    {27, "AT+TCPMTU=", kOk, kError, 1000, false},
    {28, "AT+MCONTIME=", kOk, kError, 1000, false},
    {29, "AT+RETRY=", kOk, kError, 1000, false},
    {30, "AT+WTRCHNNL01=", kOk, kError, 1000, false},
    {31, "AT+WTRCHNNL02=", kOk, kError, 1000, false},
    {32, "AT+WTRCHNNL03=", kOk, kError, 1000, false},
    {33, "AT+WTRCHNNL04=", kOk, kError, 1000, false},
    {34, "AT+WTRCHNNL05=", kOk, kError, 1000, false},
    {35, "AT+WTRCHNNL06=", kOk, kError, 1000, false},
    {36, "AT+LVWTRLRM=", kOk, kError, 1000, false},
    {37, "AT+CHCKWTRMIN=", kOk, kError, 1000, false},
    {38, "AT+ELECHNNL=", kOk, kError, 1000, false},
    {39, "AT+BCKCHNNL=", kOk, kError, 1000, false},
    {40, "AT+ELE2WTR=", kOk, kError, 1000, false},
    {41, "AT+ELEENERGY=", kOk, kError, 1000, false},
    {42, "AT+NOELECLOSE=", kOk, kError, 1000, false},
    {43, "AT+ELEOPEN=", kOk, kError, 1000, false},
    {44, "AT+ELEUPPER=", kOk, kError, 1000, false},
    {45, "AT+ELELOWER=", kOk, kError, 1000, false},
    {46, "AT+ELEVAL=", kOk, kError, 1000, false},
    {47, "AT+VOLOPEN=", kOk, kError, 1000, false},
    {48, "AT+VOLUPPER=", kOk, kError, 1000, false},
    {49, "AT+VOLLOWER=", kOk, kError, 1000, false},
    {50, "AT+VOLVAL=", kOk, kError, 1000, false},
    {51, "AT+VOLMULTIPLE=", kOk, kError, 1000, false},
    {52, "AT+SEC2WTR=", kOk, kError, 1000, false},
    {53, "AT+IIOCOLTIME01=", kOk, kError, 1000, false},
    {54, "AT+IIOSVTIME01=", kOk, kError, 1000, false},
    {55, "AT+IIOLRMOP01=", kOk, kError, 1000, false},
    {56, "AT+IIOTYPE01=", kOk, kError, 1000, false},
    {57, "AT+IIOCOLTIME02=", kOk, kError, 1000, false},
    {58, "AT+IIOSVTIME02=", kOk, kError, 1000, false},
    {59, "AT+IIOLRMOP02=", kOk, kError, 1000, false},
    {60, "AT+IIOTYPE02=", kOk, kError, 1000, false},
    {61, "AT+IIOCOLTIME03=", kOk, kError, 1000, false},
    {62, "AT+IIOSVTIME03=", kOk, kError, 1000, false},
    {63, "AT+IIOLRMOP03=", kOk, kError, 1000, false},
    {64, "AT+IIOTYPE03=", kOk, kError, 1000, false},
    {65, "AT+IIOCOLTIME04=", kOk, kError, 1000, false},
    {66, "AT+IIOSVTIME04=", kOk, kError, 1000, false},
    {67, "AT+IIOLRMOP04=", kOk, kError, 1000, false},
    {68, "AT+IIOTYPE04=", kOk, kError, 1000, false},
    {69, "AT+RELAYDEF01=", kOk, kError, 1000, false},
    {70, "AT+RELAYTYPE01=", kOk, kError, 1000, false},
    {71, "AT+RELAYDEF02=", kOk, kError, 1000, false},
    {72, "AT+RELAYTYPE02=", kOk, kError, 1000, false},
    {73, "AT+RELAYDEF03=", kOk, kError, 1000, false},
    {74, "AT+RELAYTYPE03=", kOk, kError, 1000, false},
    {75, "AT+RELAYDEF04=", kOk, kError, 1000, false},
    {76, "AT+RELAYTYPE04=", kOk, kError, 1000, false},
    {77, "AT+RELAYMAN=", kOk, kError, 1000, false},
    {78, "AT+LOCKDLY=", kOk, kError, 1000, false},
    {79, "AT+RLYMANPROT=", kOk, kError, 1000, false},
    {80, "AT+RLYTYPE=", kOk, kError, 1000, false},
    {81, "AT+CNTROP01=", kOk, kError, 1000, false},
    {82, "AT+CNTRUNIT01=", kOk, kError, 1000, false},
    {153, "AT+CNTRVAL01", kOk, kError, 1000, false},
    {83, "AT+CNTRSVTIME01=", kOk, kError, 1000, false},
    {84, "AT+CNTRTYPE01=", kOk, kError, 1000, false},
    {85, "AT+CNTROP02=", kOk, kError, 1000, false},
    {86, "AT+CNTRUNIT02=", kOk, kError, 1000, false},
    {154, "AT+CNTRVAL02", kOk, kError, 1000, false},
    {87, "AT+CNTRSVTIME02=", kOk, kError, 1000, false},
    {88, "AT+CNTRTYPE02=", kOk, kError, 1000, false},
    {89, "AT+CNTROP03=", kOk, kError, 1000, false},
    {90, "AT+CNTRUNIT03=", kOk, kError, 1000, false},
    {155, "AT+CNTRVAL03", kOk, kError, 1000, false},
    {91, "AT+CNTRSVTIME03=", kOk, kError, 1000, false},
    {92, "AT+CNTRTYPE03=", kOk, kError, 1000, false},
    {93, "AT+CNTROP04=", kOk, kError, 1000, false},
    {94, "AT+CNTRUNIT04=", kOk, kError, 1000, false},
    {156, "AT+CNTRVAL04", kOk, kError, 1000, false},
    {95, "AT+CNTRSVTIME04=", kOk, kError, 1000, false},
    {96, "AT+CNTRTYPE04=", kOk, kError, 1000, false},
    {97, "AT+COMSPEED01=", kOk, kError, 1000, false},
    {98, "AT+COMPARITY01=", kOk, kError, 1000, false},
    {99, "AT+COMCOLTIME01=", kOk, kError, 1000, false},
    {100, "AT+COMSVTIME01=", kOk, kError, 1000, false},
    {101, "AT+COMTYPE01=", kOk, kError, 1000, false},
    {157, "AT+COMVAL01", kOk, kError, 1000, false},
    {102, "AT+COMSPEED02=", kOk, kError, 1000, false},
    {103, "AT+COMPARITY02=", kOk, kError, 1000, false},
    {104, "AT+COMCOLTIME02=", kOk, kError, 1000, false},
    {105, "AT+COMSVTIME02=", kOk, kError, 1000, false},
    {106, "AT+COMTYPE02=", kOk, kError, 1000, false},
    {158, "AT+COMVAL02", kOk, kError, 1000, false},
    {107, "AT+COMSPEED03=", kOk, kError, 1000, false},
    {108, "AT+COMPARITY03=", kOk, kError, 1000, false},
    {109, "AT+COMCOLTIME03=", kOk, kError, 1000, false},
    {110, "AT+COMSVTIME03=", kOk, kError, 1000, false},
    {111, "AT+COMTYPE03=", kOk, kError, 1000, false},
    {159, "AT+COMVAL03", kOk, kError, 1000, false},
    {112, "AT+COMSPEED04=", kOk, kError, 1000, false},
    {113, "AT+COMPARITY04=", kOk, kError, 1000, false},
    {114, "AT+COMCOLTIME04=", kOk, kError, 1000, false},
    {115, "AT+COMSVTIME04=", kOk, kError, 1000, false},
    {116, "AT+COMTYPE04=", kOk, kError, 1000, false},
    {160, "AT+COMVAL04", kOk, kError, 1000, false},
    {117, "AT+CNTSVLEN01=", kOk, kError, 1000, false},
    {118, "AT+COMSVLEN01=", kOk, kError, 1000, false},
    {119, "AT+CNTSVLEN02=", kOk, kError, 1000, false},
    {120, "AT+COMSVLEN02=", kOk, kError, 1000, false},
    {121, "AT+CNTSVLEN03=", kOk, kError, 1000, false},
    {122, "AT+COMSVLEN03=", kOk, kError, 1000, false},
    {123, "AT+CNTSVLEN04=", kOk, kError, 1000, false},
    {124, "AT+COMSVLEN04=", kOk, kError, 1000, false},
    {125, "AT+NFCSVLEN=", kOk, kError, 1000, false},
    {126, "AT+IFERASESV=", kOk, kError, 1000, false},
    {127, "AT+LOCKUSERCARD=", kOk, kError, 1000, false},
    {128, "AT+ELEERRPRT=", kOk, kError, 1000, false},
    {129, "AT+WTRERRPRT=", kOk, kError, 1000, false},
    {130, "AT+ELEFILTERA=", kOk, kError, 1000, false},
    {131, "AT+PHONE1=", kOk, kError, 1000, false},
    {132, "AT+PHONE2=", kOk, kError, 1000, false},
    {133, "AT+PHONE3=", kOk, kError, 1000, false},
    {134, "AT+PHONE4=", kOk, kError, 1000, false},
    {135, "AT+HEXSMS=", kOk, kError, 1000, false},
    {136, "AT+OPENSMSBCKP=", kOk, kError, 1000, false},
    {137, "AT+SMSDIS=", kOk, kError, 1000, false},
    {138, "AT+MBMODE=", kOk, kError, 1000, false},
    {139, "AT+MBADDRESS=", kOk, kError, 1000, false},
    {140, "AT+ADCMODE1=", kOk, kError, 1000, false},
    {141, "AT+ADCMODE2=", kOk, kError, 1000, false},
    {142, "AT+DIOWORKMODE1=", kOk, kError, 1000, false},
    {143, "AT+DIOWORKMODE2=", kOk, kError, 1000, false},
    {144, "AT+DIOWORKMODE3=", kOk, kError, 1000, false},
    {146, "AT+SHOW", kOk, kError, 5000, true},
    {147, "AT+VER", kOk, kError, 5000, false},
    {148, "AT+CSQ", kOk, kError, 5000, false},
    {149, "AT+FACTORY", kOk, kError, 5000, false},
    {150, "AT+RESET", kOk, kError, 5000, false},
    {152, "AT+EXCCLK=", kOk, kError, 1000, false},
    {161, "AT+RDNFCRCRD=", kOk, kError, 5000, false},
    {162, "AT+INITDATAFLASH", kOk, kError, 5000, false},
    {163, "AT+INITSENSOR", kOk, kError, 5000, false},
    {164, nullptr, nullptr, nullptr, 0, false},
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

} // namespace pell
