#include "cli/CliText.h"

#include <cerrno>
#include <cstdio>
#include <iconv.h>

namespace pell::cli {

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

std::string JsonString(std::string_view utf8)
{
    std::string out = "\"";
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
    return out;
}

std::string_view TrimLineBreaks(std::string_view text)
{
    while (!text.empty() && (text.front() == '\r' || text.front() == '\n'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

} // namespace pell::cli
