#pragma once
// Texts that more than one page shows, as they are shown (GBK). A page's
// own texts keep these names through its texts header.
namespace pell::commontext {

// "提示": the caption of the tool's message boxes.
inline constexpr char kNoteCaption[] = "\xCC\xE1\xCA\xBE";
// "请先打开串口"
inline constexpr char kOpenPortFirst[] = "\xC7\xEB\xCF\xC8\xB4\xF2\xBF\xAA\xB4\xAE\xBF\xDA";
// "请先选择文件"
inline constexpr char kSelectFileFirst[] = "\xC7\xEB\xCF\xC8\xD1\xA1\xD4\xF1\xCE\xC4\xBC\xFE";

} // namespace pell::commontext
