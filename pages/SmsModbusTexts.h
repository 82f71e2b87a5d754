#pragma once
// The words (GBK) and label tables of the SMS and Modbus pages. Both pages
// match the whole value text and the whole box text. A value text that
// picks no label empties the box, and a box text that is no label yields no
// value: the write passes over it rather than sending an empty value that
// nobody can see or edit and that would clear the controller's setting.
#include "pages/ValueRules.h"

namespace pell::smspage {

// "普通短信"
inline constexpr char kPlainSms[] = "\xC6\xD5\xCD\xA8\xB6\xCC\xD0\xC5";
// "HEX短信"
inline constexpr char kHexSms[] = "HEX\xB6\xCC\xD0\xC5";
// "开启"
inline constexpr char kOn[] = "\xBF\xAA\xC6\xF4";
// "禁止"
inline constexpr char kDisabled[] = "\xBD\xFB\xD6\xB9";
// "关闭"
inline constexpr char kOff[] = "\xB9\xD8\xB1\xD5";

// SMS format (135, list 1084): "0" plain, "1" hex.
const LabelTable& FormatLabels();
// SMS backup (136, list 1085): "0" disabled, "1" on.
const LabelTable& BackupLabels();
// Received SMS to the serial port (137, list 1086): "0" off, "1" on.
const LabelTable& ForwardLabels();

} // namespace pell::smspage

namespace pell::modbuspage {

// "不启用MODBUS"
inline constexpr char kModbusOff[] = "\xB2\xBB\xC6\xF4\xD3\xC3MODBUS";
// "网络RTU功能"
inline constexpr char kNetworkRtu[] = "\xCD\xF8\xC2\xE7RTU\xB9\xA6\xC4\xDC";
// "串口RTU功能"
inline constexpr char kSerialRtu[] = "\xB4\xAE\xBF\xDARTU\xB9\xA6\xC4\xDC";
// "不启用"
inline constexpr char kNotUsed[] = "\xB2\xBB\xC6\xF4\xD3\xC3";
// "一次性采集"
inline constexpr char kOneShot[] = "\xD2\xBB\xB4\xCE\xD0\xD4\xB2\xC9\xBC\xAF";
// "输入"
inline constexpr char kInput[] = "\xCA\xE4\xC8\xEB";
// "输出"
inline constexpr char kOutput[] = "\xCA\xE4\xB3\xF6";

// Modbus work mode (138, list 1094): "0" off, "1" RTU over the network link,
// "2" RTU over the serial port.
const LabelTable& WorkModeLabels();
// Analog points (140, 141; lists 1096, 1097): "0" off, "1" one-shot.
const LabelTable& AnalogLabels();
// Digital points (142..144; lists 1098..1100): "0" off, "1" input, "2" output.
const LabelTable& DigitalLabels();

} // namespace pell::modbuspage
