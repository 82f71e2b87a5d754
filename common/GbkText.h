#pragma once
// The system's texts are code page 936 (GBK) bytes: the controller's
// replies, the files and the job texts. The terminal, the window and the
// file names speak Unicode. These are the one converter between the two,
// the operating system's own (iconv here, MultiByteToWideChar on Windows),
// for the command-line tool and the window alike.
#include <string>
#include <string_view>

namespace pell {

// GBK bytes as UTF-8. A byte sequence that is no GBK character is shown as
// \xNN, so nothing the controller sends can hide.
std::string GbkToUtf8(std::string_view gbk);
// UTF-8 as GBK for the wire and the files. False (with `out` emptied) when
// the text is no valid UTF-8 or holds a character GBK lacks.
bool Utf8ToGbk(std::string_view utf8, std::string& out);

// UTF-8 as GBK with '?' for each character GBK lacks (and each byte that
// starts no UTF-8 character): for texts that are only shown.
std::string Utf8ToGbkLossy(std::string_view utf8);

// Whether this system can convert code page 936 at all (a C library
// without its GBK module, a Windows without the code page cannot). Without
// it every Chinese text would be garbled, so a program checks at start.
bool GbkConverterWorks();

} // namespace pell
