#pragma once
// The configuration page's own texts as it logs and shows them (GBK).
#include "common/CommonTexts.h"

namespace pell::configtext {

// "******配置工具软件版本：V1.4******\r\n": the log's first line.
inline constexpr char kLogBanner[] =
    "******\xC5\xE4\xD6\xC3\xB9\xA4\xBE\xDF\xC8\xED\xBC\xFE\xB0\xE6\xB1\xBE\xA3\xBAV1.4******\r\n";
// "提示", "请先打开串口", "请先选择文件": shared with the other pages.
using commontext::kNoteCaption;
using commontext::kOpenPortFirst;
using commontext::kSelectFileFirst;
// "设置成功\r\n\r\n"
inline constexpr char kSetOk[] = "\xC9\xE8\xD6\xC3\xB3\xC9\xB9\xA6\r\n\r\n";
// "设置失败\r\n\r\n": a failed command, and the refusal of the clear buttons
// while the page is busy.
inline constexpr char kSetFailed[] = "\xC9\xE8\xD6\xC3\xCA\xA7\xB0\xDC\r\n\r\n";
// "正在等待设备上电后进入配置状态...\r\n"
inline constexpr char kWaiting[] =
    "\xD5\xFD\xD4\xDA\xB5\xC8\xB4\xFD\xC9\xE8\xB1\xB8\xC9\xCF\xB5\xE7\xBA\xF3\xBD\xF8\xC8\xEB"
    "\xC5\xE4\xD6\xC3\xD7\xB4\xCC\xAC...\r\n";
// "取消等待设备上电后进入配置状态...\r\n"
inline constexpr char kWaitCancelled[] =
    "\xC8\xA1\xCF\xFB\xB5\xC8\xB4\xFD\xC9\xE8\xB1\xB8\xC9\xCF\xB5\xE7\xBA\xF3\xBD\xF8\xC8\xEB"
    "\xC5\xE4\xD6\xC3\xD7\xB4\xCC\xAC...\r\n";
// "设备上电后进入配置状态成功...\r\n"
inline constexpr char kConfigModeEntered[] =
    "\xC9\xE8\xB1\xB8\xC9\xCF\xB5\xE7\xBA\xF3\xBD\xF8\xC8\xEB\xC5\xE4\xD6\xC3\xD7\xB4\xCC\xAC"
    "\xB3\xC9\xB9\xA6...\r\n";
// "正在载入设备参数 ...\r\n\r\n"
inline constexpr char kLoadingParams[] =
    "\xD5\xFD\xD4\xDA\xD4\xD8\xC8\xEB\xC9\xE8\xB1\xB8\xB2\xCE\xCA\xFD ...\r\n\r\n";
// "载入设备参数成功 ...\r\n"
inline constexpr char kLoadOk[] = "\xD4\xD8\xC8\xEB\xC9\xE8\xB1\xB8\xB2\xCE\xCA\xFD\xB3\xC9\xB9\xA6 ...\r\n";
// "载入设备参数失败...\r\n\r\n"
inline constexpr char kLoadFailed[] =
    "\xD4\xD8\xC8\xEB\xC9\xE8\xB1\xB8\xB2\xCE\xCA\xFD\xCA\xA7\xB0\xDC...\r\n\r\n";

// "设备参数未载入，请先载入设备参数或从配置文件配置...\r\n\r\n": a save
// refused while the table and the pages hold no values that the controller
// or a configuration file gave (before a read-back, after a failed one).
inline constexpr char kNoValuesLoaded[] =
    "\xC9\xE8\xB1\xB8\xB2\xCE\xCA\xFD\xCE\xB4\xD4\xD8\xC8\xEB\xA3\xAC\xC7\xEB\xCF\xC8"
    "\xD4\xD8\xC8\xEB\xC9\xE8\xB1\xB8\xB2\xCE\xCA\xFD\xBB\xF2\xB4\xD3\xC5\xE4\xD6\xC3"
    "\xCE\xC4\xBC\xFE\xC5\xE4\xD6\xC3...\r\n\r\n";
// "正在执行其它操作，请稍后再试...\r\n\r\n": "从配置文件配置" while a job runs.
inline constexpr char kBusyRefused[] =
    "\xD5\xFD\xD4\xDA\xD6\xB4\xD0\xD0\xC6\xE4\xCB\xFC\xB2\xD9\xD7\xF7\xA3\xAC\xC7\xEB"
    "\xC9\xD4\xBA\xF3\xD4\xD9\xCA\xD4...\r\n\r\n";
// "正在下载程序，请等待下载结束...\r\n\r\n": a button or a page request
// while the download page holds the line.
inline constexpr char kDownloadActive[] =
    "\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8\xB3\xCC\xD0\xF2\xA3\xAC\xC7\xEB\xB5\xC8\xB4\xFD"
    "\xCF\xC2\xD4\xD8\xBD\xE1\xCA\xF8...\r\n\r\n";

// What the controller prints when it enters configuration mode.
inline constexpr char kConfigureProgram[] = "CONFIGURE PROGRAM";

} // namespace pell::configtext
