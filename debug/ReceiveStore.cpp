#include "debug/ReceiveStore.h"

#include "debug/HexText.h"

#include <algorithm>
#include <cstring>

namespace pell {

ReceiveStore::ReceiveStore() : bytes_(std::make_unique<char[]>(kCapacity + 1)) {}

bool ReceiveStore::Append(const char* bytes, int length)
{
    if (length <= 0)
        return false;
    std::lock_guard<std::mutex> lock(m_);
    const int fill = fill_.load();
    if (fill + static_cast<int64_t>(length) > kCapacity) {
        const int kept = std::min(length, kCapacity);
        std::memcpy(bytes_.get(), bytes, static_cast<std::size_t>(kept));
        bytes_[static_cast<std::size_t>(kept)] = 0;
        fill_.store(kept);
        generation_.fetch_add(1);
        return true;
    }
    std::memcpy(bytes_.get() + fill, bytes, static_cast<std::size_t>(length));
    bytes_[static_cast<std::size_t>(fill + length)] = 0;
    fill_.store(fill + length);
    return false;
}

void ReceiveStore::Clear()
{
    std::lock_guard<std::mutex> lock(m_);
    fill_.store(0);
    bytes_[0] = 0;
    generation_.fetch_add(1);
}

void ReceiveStore::SetHex(bool hex)
{
    std::lock_guard<std::mutex> lock(m_);
    hex_.store(hex);
    generation_.fetch_add(1);
}

std::string ReceiveStore::Contents() const
{
    std::lock_guard<std::mutex> lock(m_);
    return std::string(bytes_.get(), static_cast<std::size_t>(fill_.load()));
}

DisplayUpdate ReceiveStore::Update(DisplayCursor& cursor) const
{
    DisplayUpdate up;
    std::string copy;
    int from = 0;
    {
        // Only the copy is made under the lock; the rendering is not.
        std::lock_guard<std::mutex> lock(m_);
        const uint64_t generation = generation_.load();
        const int fill = fill_.load();
        up.hex = hex_.load();
        up.fill = fill;
        if (generation != cursor.generation) {
            up.replace = true;
            cursor = DisplayCursor{};
            cursor.generation = generation;
        } else if (cursor.position == fill) {
            return up;
        }
        from = cursor.position;
        copy.assign(bytes_.get() + from, static_cast<std::size_t>(fill - from));
        cursor.position = fill;
    }
    up.changed = true;
    if (up.hex)
        RenderHex(up.text, copy, from);
    else
        RenderText(up.text, copy, cursor);
    return up;
}

void ReceiveStore::RenderHex(std::string& out, std::string_view bytes, int offset)
{
    out.reserve(out.size() + bytes.size() * 3 + bytes.size() / kHexBytesPerLine + 1);
    std::size_t i = 0;
    while (i < bytes.size()) {
        const int pos = offset + static_cast<int>(i);
        if (pos > 0 && pos % kHexBytesPerLine == 0)
            out.push_back('\n');
        const std::size_t run =
            std::min<std::size_t>(bytes.size() - i, static_cast<std::size_t>(kHexBytesPerLine - pos % kHexBytesPerLine));
        AppendHex(out, bytes.substr(i, run));
        i += run;
    }
}

void ReceiveStore::RenderText(std::string& out, std::string_view bytes, DisplayCursor& c)
{
    out.reserve(out.size() + bytes.size() + bytes.size() / kTextBreakAfter + 2);
    auto put = [&](char ch, int width) {
        out.push_back(ch);
        c.column += width;
    };
    auto endOfCharacter = [&] {
        if (c.column >= kTextBreakAfter) {
            out.push_back('\n');
            c.column = 0;
        }
    };
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (c.pendingLead >= 0) {
            const char lead = static_cast<char>(c.pendingLead);
            c.pendingLead = -1;
            if (b >= 0x40 && b <= 0xFE && b != 0x7F) {
                put(lead, 0);
                put(ch, 1);
                endOfCharacter();
                continue;
            }
            put(lead, 1); // a lone lead byte; the decoder shows what it makes of it
            endOfCharacter();
        }
        if (b == 0) {
            put('#', 1);
        } else if (b == '\r') {
            continue; // CR LF and a lone LF both end a line; a CR alone shows nothing
        } else if (b == '\n') {
            out.push_back('\n');
            c.column = 0;
            continue;
        } else if (b >= 0x81 && b <= 0xFE) {
            c.pendingLead = b;
            continue;
        } else {
            put(ch, 1);
        }
        endOfCharacter();
    }
}

} // namespace pell
