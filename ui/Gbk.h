#pragma once
// The one place where the system's GBK byte strings meet Qt's text.
#include <QString>
#include <string>
#include <string_view>

namespace pell::ui {

QString FromGbk(std::string_view bytes);
std::string ToGbk(const QString& text);

// A file path for the core's file functions: the file system's own encoding,
// and UTF-8 on Windows, where the core opens UTF-8 paths through the wide
// file functions (the system's code page cannot name every file).
std::string CorePath(const QString& path);
// A path from CorePath back as text.
QString FromCorePath(std::string_view path);

} // namespace pell::ui
