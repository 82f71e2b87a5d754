#pragma once
// The download page's own texts, as the page shows and logs them (GBK).
#include "common/CommonTexts.h"

namespace pell::downloadtext {

// "提示", "请先打开串口", "请先选择文件": shared with the other pages.
using commontext::kNoteCaption;
using commontext::kOpenPortFirst;
using commontext::kSelectFileFirst;
// "文件长度错误"
inline constexpr char kFileLengthCaption[] = "\xCE\xC4\xBC\xFE\xB3\xA4\xB6\xC8\xB4\xED\xCE\xF3";
// "请将设备重新上电"
inline constexpr char kPowerCycle[] =
    "\xC7\xEB\xBD\xAB\xC9\xE8\xB1\xB8\xD6\xD8\xD0\xC2\xC9\xCF\xB5\xE7";
// "引导程序": typed into the program type box, selects the boot-program handshake.
inline constexpr char kBootProgram[] = "\xD2\xFD\xB5\xBC\xB3\xCC\xD0\xF2";
// "应用程序": the one listed program type.
inline constexpr char kApplication[] = "\xD3\xA6\xD3\xC3\xB3\xCC\xD0\xF2";
// "******下载工具软件版本：V1.2.1******\r\n": the log's first line.
inline constexpr char kLogBanner[] =
    "******\xCF\xC2\xD4\xD8\xB9\xA4\xBE\xDF\xC8\xED\xBC\xFE\xB0\xE6\xB1\xBE\xA3\xBAV1.2.1******\r\n";

// Log messages; %d is the block number, the first block being 1.
inline constexpr char kLogBegin[] = "begin download  now \r\n";
inline constexpr char kLogBlockOk[] = "download %d block ok\r\n";
inline constexpr char kLogBlockError[] = "download %d block error\r\n";
inline constexpr char kLogBlockTimeout[] = "download %d block timeout error\r\n";
inline constexpr char kLogSuccess[] = "download success ok\r\n";

// Words the boot loader's text is searched for.
inline constexpr char kBootUpdate[] = "boot update";
inline constexpr char kErrorReport[] = "err_";

} // namespace pell::downloadtext
