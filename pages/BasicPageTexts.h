#pragma once
// The basic settings page's words (GBK) and its two label tables.
#include "pages/ValueRules.h"

#include <array>

namespace pell::basicpage {

// Debug level (parameter 3): "无日志输出", "简单日志输出", "详细日志输出".
inline constexpr char kNoLog[] = "\xCE\xDE\xC8\xD5\xD6\xBE\xCA\xE4\xB3\xF6";
inline constexpr char kSimpleLog[] = "\xBC\xF2\xB5\xA5\xC8\xD5\xD6\xBE\xCA\xE4\xB3\xF6";
inline constexpr char kDetailedLog[] = "\xCF\xEA\xCF\xB8\xC8\xD5\xD6\xBE\xCA\xE4\xB3\xF6";

// On/off functions (parameters 127..129): "否", "是".
inline constexpr char kNo[] = "\xB7\xF1";
inline constexpr char kYes[] = "\xCA\xC7";

// Clock source (combo 1099): "系统时间", "手动设置".
inline constexpr char kSystemTime[] = "\xCF\xB5\xCD\xB3\xCA\xB1\xBC\xE4";
inline constexpr char kManualSetting[] = "\xCA\xD6\xB6\xAF\xC9\xE8\xD6\xC3";

// Weekdays (combo 1104), Sunday first: "星期天" .. "星期六".
inline constexpr std::array<const char*, 7> kWeekdays = {
    "\xD0\xC7\xC6\xDA\xCC\xEC", "\xD0\xC7\xC6\xDA\xD2\xBB", "\xD0\xC7\xC6\xDA\xB6\xFE",
    "\xD0\xC7\xC6\xDA\xC8\xFD", "\xD0\xC7\xC6\xDA\xCB\xC4", "\xD0\xC7\xC6\xDA\xCE\xE5",
    "\xD0\xC7\xC6\xDA\xC1\xF9",
};

// "所设置的日期时间无效": a manual date and time the clock cannot hold.
inline constexpr char kInvalidManualTime[] =
    "\xCB\xF9\xC9\xE8\xD6\xC3\xB5\xC4\xC8\xD5\xC6\xDA\xCA\xB1\xBC\xE4\xCE\xDE\xD0\xA7";

// Table A (debug level): "1" and "2" pick their labels by the first
// character, anything else shows "无日志输出"; any text but the two labels
// reads back as "0".
const LabelTable& DebugLevelLabels();
// Table B (on/off): "0" shows "否", "1" shows "是", anything else empties
// the text; any text but the two labels reads back as no value.
const LabelTable& OnOffLabels();

} // namespace pell::basicpage
