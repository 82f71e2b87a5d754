#pragma once
// The one place where the system's GBK byte strings meet Qt's text.
#include <QString>
#include <optional>
#include <string>
#include <string_view>

namespace pell::ui {

// Converted with the core's converter (the system's own code page 936), on
// every platform alike. Bytes that are no GBK character show as \xNN.
QString FromGbk(std::string_view bytes);
// A text as GBK, or nothing when it holds a character GBK lacks: for what
// goes to the controller as typed.
std::optional<std::string> ToGbkExact(const QString& text);
// A text as GBK with '?' for each character GBK lacks: for what is only
// shown (messages, file names in a log line) or checked afterwards.
std::string ToGbk(const QString& text);

// GBK arriving in pieces (the debug terminal's receive display): a lead
// byte at the end of one piece waits for its trail byte in the next.
class GbkStreamDecoder {
public:
    QString Decode(std::string_view bytes);
    void Reset() { pending_.clear(); }

private:
    std::string pending_;
};

// A file path for the core's file functions: the file system's own encoding,
// and UTF-8 on Windows, where the core opens UTF-8 paths through the wide
// file functions (the system's code page cannot name every file).
std::string CorePath(const QString& path);
// A path from CorePath back as text.
QString FromCorePath(std::string_view path);

} // namespace pell::ui
