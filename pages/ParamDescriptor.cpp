#include "pages/ParamDescriptor.h"

#include "pages/BasicPageTexts.h"
#include "pages/NetworkPageTexts.h"
#include "pages/SmsModbusTexts.h"
#include "protocol/CommandTable.h"

#include <vector>

namespace pell {

namespace {

// Templates: 133 basic, 134 network, 141 water and electricity, 142 digital
// input, 143 relay, 144 counter, 145 serial meter, 147 storage, 138 SMS,
// 139 Modbus. Seven to eleven, and 26 to 29, are on no page.
const std::vector<ParamDescriptor>& table()
{
    static const std::vector<ParamDescriptor> rows = {
    {0, 133, 1039, ValueRule::Text, nullptr, "(固定10位)"},
    {1, 133, 1041, ValueRule::Text, nullptr},
    {2, 133, 1054, ValueRule::Text, nullptr},
    {3, 133, 1042, ValueRule::Label, &basicpage::DebugLevelLabels()},
    {4, 133, 1051, ValueRule::Text, nullptr},
    {5, 133, 1052, ValueRule::Text, nullptr},
    {6, 133, 1053, ValueRule::Text, nullptr, "(0-16)"},
    {7, 0, 0, ValueRule::Text, nullptr},
    {8, 0, 0, ValueRule::Text, nullptr},
    {9, 0, 0, ValueRule::Text, nullptr},
    {10, 0, 0, ValueRule::Text, nullptr},
    {11, 0, 0, ValueRule::Text, nullptr},
    {12, 134, 1042, ValueRule::Text, nullptr},
    {13, 134, 1064, ValueRule::Label, &networkpage::WorkModeLabels()},
    {14, 134, 1043, ValueRule::Text, nullptr},
    {15, 134, 1044, ValueRule::Text, nullptr},
    {16, 134, 1045, ValueRule::Text, nullptr},
    {17, 134, 1054, ValueRule::Text, nullptr},
    {18, 134, 1055, ValueRule::Text, nullptr},
    {19, 134, 1028, ValueRule::Text, nullptr},
    {20, 134, 1029, ValueRule::Text, nullptr},
    {21, 134, 1030, ValueRule::Text, nullptr},
    {22, 134, 1031, ValueRule::Text, nullptr},
    {23, 134, 1061, ValueRule::Text, nullptr},
    {24, 134, 1062, ValueRule::Text, nullptr},
    {25, 134, 1063, ValueRule::Text, nullptr},
    {26, 0, 0, ValueRule::Text, nullptr},
    {27, 0, 0, ValueRule::Text, nullptr},
    {28, 0, 0, ValueRule::Text, nullptr},
    {29, 0, 0, ValueRule::Text, nullptr},
    {30, 141, 1094, ValueRule::Number, nullptr},
    {31, 141, 1097, ValueRule::Number, nullptr},
    {32, 141, 1099, ValueRule::Number, nullptr},
    {33, 141, 1101, ValueRule::Number, nullptr},
    {34, 141, 1103, ValueRule::Number, nullptr},
    {35, 141, 1105, ValueRule::Number, nullptr},
    {36, 141, 1111, ValueRule::Text, nullptr},
    {37, 141, 1112, ValueRule::Text, nullptr},
    {38, 141, 1095, ValueRule::Number, nullptr},
    {39, 141, 1108, ValueRule::Number, nullptr},
    {40, 141, 1080, ValueRule::Text, nullptr},
    {41, 141, 1090, ValueRule::Text, nullptr},
    {42, 141, 1089, ValueRule::Text, nullptr},
    {43, 141, 1118, ValueRule::Digit, nullptr},
    {44, 141, 1081, ValueRule::Text, nullptr},
    {45, 141, 1082, ValueRule::Text, nullptr},
    {46, 141, 1083, ValueRule::Text, nullptr},
    {47, 141, 1123, ValueRule::Digit, nullptr},
    {48, 141, 1084, ValueRule::Text, nullptr},
    {49, 141, 1085, ValueRule::Text, nullptr},
    {50, 141, 1086, ValueRule::Text, nullptr},
    {51, 141, 1091, ValueRule::Text, nullptr},
    {52, 141, 1092, ValueRule::Text, nullptr},
    {53, 142, 1112, ValueRule::Text, nullptr},
    {54, 142, 1080, ValueRule::Text, nullptr},
    {55, 142, 1116, ValueRule::Digit, nullptr},
    {56, 142, 1119, ValueRule::Digit, nullptr},
    {57, 142, 1113, ValueRule::Text, nullptr},
    {58, 142, 1081, ValueRule::Text, nullptr},
    {59, 142, 1117, ValueRule::Digit, nullptr},
    {60, 142, 1121, ValueRule::Digit, nullptr},
    {61, 142, 1114, ValueRule::Text, nullptr},
    {62, 142, 1082, ValueRule::Text, nullptr},
    {63, 142, 1118, ValueRule::Digit, nullptr},
    {64, 142, 1122, ValueRule::Digit, nullptr},
    {65, 142, 1115, ValueRule::Text, nullptr},
    {66, 142, 1083, ValueRule::Text, nullptr},
    {67, 142, 1120, ValueRule::Digit, nullptr},
    {68, 142, 1123, ValueRule::Digit, nullptr},
    {69, 143, 1124, ValueRule::Digit, nullptr},
    {70, 143, 1128, ValueRule::Digit, nullptr},
    {71, 143, 1125, ValueRule::Digit, nullptr},
    {72, 143, 1130, ValueRule::Digit, nullptr},
    {73, 143, 1126, ValueRule::Digit, nullptr},
    {74, 143, 1131, ValueRule::Digit, nullptr},
    {75, 143, 1127, ValueRule::Digit, nullptr},
    {76, 143, 1132, ValueRule::Digit, nullptr},
    {77, 143, 1129, ValueRule::Digit, nullptr},
    {78, 143, 1133, ValueRule::Text, nullptr},
    {79, 143, 1135, ValueRule::Digit, nullptr},
    {80, 143, 1134, ValueRule::Digit, nullptr},
    {81, 144, 1134, ValueRule::Digit, nullptr},
    {82, 144, 1138, ValueRule::Text, nullptr},
    {83, 144, 1124, ValueRule::Text, nullptr},
    {84, 144, 1142, ValueRule::Digit, nullptr},
    {85, 144, 1135, ValueRule::Digit, nullptr},
    {86, 144, 1139, ValueRule::Text, nullptr},
    {87, 144, 1125, ValueRule::Text, nullptr},
    {88, 144, 1143, ValueRule::Digit, nullptr},
    {89, 144, 1136, ValueRule::Digit, nullptr},
    {90, 144, 1140, ValueRule::Text, nullptr},
    {91, 144, 1126, ValueRule::Text, nullptr},
    {92, 144, 1144, ValueRule::Digit, nullptr},
    {93, 144, 1137, ValueRule::Digit, nullptr},
    {94, 144, 1141, ValueRule::Text, nullptr},
    {95, 144, 1127, ValueRule::Text, nullptr},
    {96, 144, 1145, ValueRule::Digit, nullptr},
    {97, 145, 1155, ValueRule::Text, nullptr},
    {98, 145, 1151, ValueRule::Text, nullptr},
    {99, 145, 1167, ValueRule::Text, nullptr},
    {100, 145, 1159, ValueRule::Text, nullptr},
    {101, 145, 1163, ValueRule::Number, nullptr},
    {102, 145, 1156, ValueRule::Text, nullptr},
    {103, 145, 1152, ValueRule::Text, nullptr},
    {104, 145, 1168, ValueRule::Text, nullptr},
    {105, 145, 1160, ValueRule::Text, nullptr},
    {106, 145, 1164, ValueRule::Number, nullptr},
    {107, 145, 1157, ValueRule::Text, nullptr},
    {108, 145, 1153, ValueRule::Text, nullptr},
    {109, 145, 1171, ValueRule::Text, nullptr},
    {110, 145, 1161, ValueRule::Text, nullptr},
    {111, 145, 1165, ValueRule::Number, nullptr},
    {112, 145, 1158, ValueRule::Text, nullptr},
    {113, 145, 1154, ValueRule::Text, nullptr},
    {114, 145, 1169, ValueRule::Text, nullptr},
    {115, 145, 1162, ValueRule::Text, nullptr},
    {116, 145, 1166, ValueRule::Number, nullptr},
    {117, 147, 1134, ValueRule::Text, nullptr},
    {118, 147, 1139, ValueRule::Text, nullptr},
    {119, 147, 1135, ValueRule::Text, nullptr},
    {120, 147, 1140, ValueRule::Text, nullptr},
    {121, 147, 1136, ValueRule::Text, nullptr},
    {122, 147, 1141, ValueRule::Text, nullptr},
    {123, 147, 1137, ValueRule::Text, nullptr},
    {124, 147, 1142, ValueRule::Text, nullptr},
    {125, 147, 1174, ValueRule::Text, nullptr},
    {126, 147, 1173, ValueRule::Digit, nullptr},
    {127, 133, 1043, ValueRule::Label, &basicpage::OnOffLabels()},
    {128, 133, 1044, ValueRule::Label, &basicpage::OnOffLabels()},
    {129, 133, 1045, ValueRule::Label, &basicpage::OnOffLabels()},
    {130, 141, 1109, ValueRule::Text, nullptr},
    {131, 138, 1079, ValueRule::Text, nullptr},
    {132, 138, 1081, ValueRule::Text, nullptr},
    {133, 138, 1082, ValueRule::Text, nullptr},
    {134, 138, 1083, ValueRule::Text, nullptr},
    {135, 138, 1084, ValueRule::Label, &smspage::FormatLabels()},
    {136, 138, 1085, ValueRule::Label, &smspage::BackupLabels()},
    {137, 138, 1086, ValueRule::Label, &smspage::ForwardLabels()},
    {138, 139, 1094, ValueRule::Label, &modbuspage::WorkModeLabels()},
    {139, 139, 1028, ValueRule::Text, nullptr},
    {140, 139, 1096, ValueRule::Label, &modbuspage::AnalogLabels()},
    {141, 139, 1097, ValueRule::Label, &modbuspage::AnalogLabels()},
    {142, 139, 1098, ValueRule::Label, &modbuspage::DigitalLabels()},
    {143, 139, 1099, ValueRule::Label, &modbuspage::DigitalLabels()},
    {144, 139, 1100, ValueRule::Label, &modbuspage::DigitalLabels()},
    };
    return rows;
}

} // namespace

std::span<const ParamDescriptor> ParamDescriptors()
{
    return table();
}

const ParamDescriptor* FindParamDescriptor(int id)
{
    const auto& rows = table();
    if (id < 0 || static_cast<std::size_t>(id) >= rows.size())
        return nullptr;
    return &rows[static_cast<std::size_t>(id)];
}

const char* ParamDescriptor::Command() const
{
    const AtCommandRow* row = FindAtRow(id);
    return row != nullptr ? row->command : nullptr;
}

const char* ParamDescriptor::ReportLabel() const
{
    return ParamLabel(id);
}

} // namespace pell
