#pragma once
// What the boot loader has said since the last clear: at most 4096
// characters plus a terminating zero, searched for "boot update" and "err_".
// Zero bytes in received text become blanks so that the searches see past
// them. When a chunk does not fit, the last 100 characters of the current
// text are kept in front of it (a word split between two chunks is still
// found); a chunk too long even for that keeps its own last bytes, which are
// the ones the searches care about.
#include <cstdint>
#include <string_view>

namespace pell {

class ReplyWindow {
public:
    static constexpr int kCapacity = 4096;
    static constexpr int kCarryOver = 100;

    ReplyWindow() { Clear(); }

    void Append(const char* bytes, int length);
    // Fills the whole window with zeros and empties it.
    void Clear();

    bool Contains(std::string_view word) const;
    int Fill() const { return fill_; }
    std::string_view Text() const { return {text_, static_cast<size_t>(fill_)}; }

private:
    char text_[kCapacity + 1];
    int fill_ = 0;
};

} // namespace pell
