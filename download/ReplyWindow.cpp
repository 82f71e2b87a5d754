#include "download/ReplyWindow.h"

#include <algorithm>
#include <cstring>

namespace pell {

void ReplyWindow::Clear()
{
    std::memset(text_, 0, sizeof text_);
    fill_ = 0;
}

void ReplyWindow::Append(const char* bytes, int length)
{
    if (length <= 0)
        return;
    int start; // first character that arrived with this chunk
    if (fill_ + length <= kCapacity) {
        std::memcpy(text_ + fill_, bytes, static_cast<size_t>(length));
        start = fill_;
        fill_ += length;
    } else {
        int take = std::min(length, kCapacity);
        int keep = std::min({fill_, kCarryOver, kCapacity - take});
        std::memmove(text_, text_ + fill_ - keep, static_cast<size_t>(keep));
        std::memcpy(text_ + keep, bytes + (length - take), static_cast<size_t>(take));
        start = keep;
        fill_ = keep + take;
    }
    for (int i = start; i < fill_; ++i) {
        if (text_[i] == 0)
            text_[i] = ' ';
    }
    text_[fill_] = 0;
}

bool ReplyWindow::Contains(std::string_view word) const
{
    return Text().find(word) != std::string_view::npos;
}

} // namespace pell
