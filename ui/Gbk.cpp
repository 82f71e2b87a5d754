#include "ui/Gbk.h"

#include "common/GbkText.h"

#include <QFile>

namespace pell::ui {

QString FromGbk(std::string_view bytes)
{
    const std::string utf8 = GbkToUtf8(bytes);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::optional<std::string> ToGbkExact(const QString& text)
{
    std::string gbk;
    if (!Utf8ToGbk(text.toStdString(), gbk))
        return std::nullopt;
    return gbk;
}

std::string ToGbk(const QString& text)
{
    return Utf8ToGbkLossy(text.toStdString());
}

QString GbkStreamDecoder::Decode(std::string_view bytes)
{
    pending_.append(bytes);
    // Where the last whole character ends: a byte below 0x80 stands alone,
    // a lead byte (0x81 to 0xFE) takes the next one with it.
    std::size_t whole = 0;
    while (whole < pending_.size()) {
        const auto c = static_cast<unsigned char>(pending_[whole]);
        const std::size_t length = (c >= 0x81 && c <= 0xFE) ? 2 : 1;
        if (whole + length > pending_.size())
            break;
        whole += length;
    }
    const QString text = FromGbk(std::string_view(pending_).substr(0, whole));
    pending_.erase(0, whole);
    return text;
}

std::string CorePath(const QString& path)
{
#ifdef _WIN32
    const QByteArray bytes = path.toUtf8();
#else
    const QByteArray bytes = QFile::encodeName(path);
#endif
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString FromCorePath(std::string_view path)
{
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
#ifdef _WIN32
    return QString::fromUtf8(bytes);
#else
    return QFile::decodeName(bytes);
#endif
}

} // namespace pell::ui
