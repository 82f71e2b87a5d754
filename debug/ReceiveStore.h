#pragma once
// The terminal's receive store: the bytes received since the last clear or
// restart (at most 524,288), written by the receive dispatch thread and
// rendered by the UI thread from a copy taken under the store's lock.
//
// Every restart, clear and change of the display form bumps the store's
// generation. A display remembers the generation and the position it has
// shown; an update for another generation replaces the whole display, so
// the display never shows old bytes next to new ones.
//
// Renderings break lines so that the display never grows one endless
// paragraph: hex every 32 bytes, text at LF and, at the latest, after about
// 1 KiB without one (never inside a double-byte character).
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace pell {

// Where a display stands: what it has shown and the state of the text
// rendering between two updates.
struct DisplayCursor {
    uint64_t generation = ~uint64_t{0}; // none shown yet
    int position = 0;                   // bytes of the store shown
    int column = 0;                     // text: characters since the last break
    int pendingLead = -1;               // text: first byte of a double-byte character held back
};

struct DisplayUpdate {
    bool changed = false; // nothing to do when false
    bool replace = false; // the display starts again (a new generation)
    bool hex = false;
    std::string text;     // hex: ASCII; text: GBK bytes to decode
    int fill = 0;         // bytes in the store, for "R:%d"
};

class ReceiveStore {
public:
    static constexpr int kCapacity = 524288;
    static constexpr int kHexBytesPerLine = 32;
    static constexpr int kTextBreakAfter = 1024;

    ReceiveStore();

    // Dispatch thread: appends a chunk, or restarts the store with the
    // chunk's first bytes when it would overflow. True on a restart.
    bool Append(const char* bytes, int length);
    // Empties the store (a new generation).
    void Clear();
    // Switches the display form (a new generation).
    void SetHex(bool hex);
    bool Hex() const { return hex_.load(); }

    int Fill() const { return fill_.load(); }
    uint64_t Generation() const { return generation_.load(); }
    // A copy of the whole content (for saving).
    std::string Contents() const;

    // What the display at `cursor` has to show now; moves the cursor on.
    DisplayUpdate Update(DisplayCursor& cursor) const;

    // Renderings of bytes that start at store position `offset`.
    static void RenderHex(std::string& out, std::string_view bytes, int offset);
    static void RenderText(std::string& out, std::string_view bytes, DisplayCursor& cursor);

private:
    mutable std::mutex m_;
    std::unique_ptr<char[]> bytes_;
    std::atomic<int> fill_{0};
    std::atomic<uint64_t> generation_{0};
    std::atomic<bool> hex_{false};
};

} // namespace pell
