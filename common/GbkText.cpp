#include "common/GbkText.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace pell {

#ifdef _WIN32
// Windows has no iconv: the system's own converters of code page 936.
namespace {

constexpr UINT kGbk = 936;

std::string wideToUtf8(const wchar_t* wide, int count)
{
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, count, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide, count, out.data(), n, nullptr, nullptr);
    return out;
}

// The character at the start of `gbk` (one or two bytes) as UTF-8; the
// bytes it took in `used`, 0 when it is no GBK character.
std::string gbkCharacter(std::string_view gbk, std::size_t& used)
{
    wchar_t wide[2];
    for (std::size_t length : {std::size_t(1), std::size_t(2)}) {
        if (length > gbk.size())
            break;
        const auto lead = static_cast<unsigned char>(gbk[0]);
        if (length == 1 && lead >= 0x81 && lead <= 0xFE)
            continue; // a lead byte needs its trail byte
        const int n = ::MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, gbk.data(), int(length), wide, 2);
        if (n > 0) {
            used = length;
            return wideToUtf8(wide, n);
        }
    }
    used = 0;
    return {};
}

} // namespace

std::string GbkToUtf8(std::string_view gbk)
{
    // The whole text at once when it is all GBK (the usual case, and the
    // debug terminal's long texts), else character by character.
    if (!gbk.empty() && gbk.size() < 0x40000000) {
        const int n = ::MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, gbk.data(), int(gbk.size()), nullptr, 0);
        if (n > 0) {
            std::wstring wide(static_cast<std::size_t>(n), L'\0');
            ::MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, gbk.data(), int(gbk.size()), wide.data(), n);
            return wideToUtf8(wide.data(), n);
        }
    }
    std::string out;
    while (!gbk.empty()) {
        const auto c = static_cast<unsigned char>(gbk.front());
        if (c < 0x80) {
            out += gbk.front();
            gbk.remove_prefix(1);
            continue;
        }
        std::size_t used = 0;
        std::string text = gbkCharacter(gbk, used);
        if (used == 0) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
            used = 1;
        } else {
            out += text;
        }
        gbk.remove_prefix(used);
    }
    return out;
}

bool Utf8ToGbk(std::string_view utf8, std::string& out)
{
    out.clear();
    if (utf8.empty())
        return true;
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), nullptr, 0);
    if (n <= 0)
        return false;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), wide.data(), n);
    BOOL lossy = FALSE;
    const int m = ::WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide.data(), n, nullptr, 0, nullptr, &lossy);
    if (m <= 0 || lossy)
        return false;
    out.resize(static_cast<std::size_t>(m));
    ::WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide.data(), n, out.data(), m, nullptr, &lossy);
    if (lossy) {
        out.clear();
        return false;
    }
    return true;
}
#else
namespace {

// An iconv descriptor for one conversion, opened per call: the tool
// converts a handful of short texts, never in a loop over the wire.
class Converter {
public:
    Converter(const char* to, const char* from)
    {
        cd_ = iconv_open(to, from);
        if (cd_ == reinterpret_cast<iconv_t>(-1) && std::string_view(from) == "CP936")
            cd_ = iconv_open(to, "GBK");
        if (cd_ == reinterpret_cast<iconv_t>(-1) && std::string_view(to) == "CP936")
            cd_ = iconv_open("GBK", from);
    }
    ~Converter()
    {
        if (ok())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as it can; returns the bytes of `in` it could not
    // take (0 when all were converted).
    std::size_t convert(std::string_view& in, std::string& out)
    {
        char buffer[256];
        while (!in.empty()) {
            char* src = const_cast<char*>(in.data());
            std::size_t srcLeft = in.size();
            char* dst = buffer;
            std::size_t dstLeft = sizeof buffer;
            const std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer, static_cast<std::size_t>(dst - buffer));
            in.remove_prefix(in.size() - srcLeft);
            if (r != static_cast<std::size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL: a byte that starts no character here.
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            return in.size();
        }
        return 0;
    }

private:
    iconv_t cd_;
};

} // namespace

std::string GbkToUtf8(std::string_view gbk)
{
    std::string out;
    Converter c("UTF-8", "CP936");
    while (!gbk.empty()) {
        if (c.ok() && c.convert(gbk, out) == 0)
            break;
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(gbk.front()));
        out += escaped;
        gbk.remove_prefix(1);
    }
    return out;
}

bool Utf8ToGbk(std::string_view utf8, std::string& out)
{
    out.clear();
    Converter c("CP936", "UTF-8");
    if (!c.ok() || c.convert(utf8, out) != 0) {
        out.clear();
        return false;
    }
    return true;
}

#endif

std::string Utf8ToGbkLossy(std::string_view utf8)
{
    std::string out;
    if (Utf8ToGbk(utf8, out))
        return out;
    // Character by character, so that only what GBK lacks is lost.
    while (!utf8.empty()) {
        const auto lead = static_cast<unsigned char>(utf8.front());
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        length = std::min(length, utf8.size());
        std::string one;
        out += Utf8ToGbk(utf8.substr(0, length), one) ? one : std::string("?");
        utf8.remove_prefix(length);
    }
    return out;
}

bool GbkConverterWorks()
{
    // "下载" both ways: the converter is there and is the one for code page 936.
    static constexpr std::string_view kGbk = "\xCF\xC2\xD4\xD8";
    static constexpr std::string_view kUtf8 = "\xE4\xB8\x8B\xE8\xBD\xBD";
    std::string back;
    return GbkToUtf8(kGbk) == kUtf8 && Utf8ToGbk(kUtf8, back) && back == kGbk;
}

} // namespace pell
