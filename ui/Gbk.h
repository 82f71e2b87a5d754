#pragma once
// The one place where the system's GBK byte strings meet Qt's text.
#include <QString>
#include <string>
#include <string_view>

namespace pell::ui {

QString FromGbk(std::string_view bytes);
std::string ToGbk(const QString& text);

} // namespace pell::ui
