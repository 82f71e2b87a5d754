#include "pages/SmsModbusTexts.h"

namespace pell {

namespace {

// Whole-text match, no default label (the box is emptied) and no value for
// any other text.
LabelTable WholeTextTable(std::span<const LabelChoice> choices)
{
    return LabelTable{choices, LabelMatch::WholeText, std::string_view(), std::nullopt};
}

} // namespace

namespace smspage {

namespace {
constexpr LabelChoice kFormat[] = {{"0", kPlainSms}, {"1", kHexSms}};
constexpr LabelChoice kBackup[] = {{"0", kDisabled}, {"1", kOn}};
constexpr LabelChoice kForward[] = {{"0", kOff}, {"1", kOn}};
} // namespace

const LabelTable& FormatLabels()
{
    static const LabelTable table = WholeTextTable(kFormat);
    return table;
}

const LabelTable& BackupLabels()
{
    static const LabelTable table = WholeTextTable(kBackup);
    return table;
}

const LabelTable& ForwardLabels()
{
    static const LabelTable table = WholeTextTable(kForward);
    return table;
}

} // namespace smspage

namespace modbuspage {

namespace {
constexpr LabelChoice kWorkMode[] = {{"0", kModbusOff}, {"1", kNetworkRtu}, {"2", kSerialRtu}};
constexpr LabelChoice kAnalog[] = {{"0", kNotUsed}, {"1", kOneShot}};
constexpr LabelChoice kDigital[] = {{"0", kNotUsed}, {"1", kInput}, {"2", kOutput}};
} // namespace

const LabelTable& WorkModeLabels()
{
    static const LabelTable table = WholeTextTable(kWorkMode);
    return table;
}

const LabelTable& AnalogLabels()
{
    static const LabelTable table = WholeTextTable(kAnalog);
    return table;
}

const LabelTable& DigitalLabels()
{
    static const LabelTable table = WholeTextTable(kDigital);
    return table;
}

} // namespace modbuspage

} // namespace pell
