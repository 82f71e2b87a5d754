#pragma once
// A page log: one text that grows by time-stamped lines and is emptied
// before a line once it holds kLogLimit characters. Any thread may log. The
// log also collects what its window has not shown yet, in the order of the
// lines, so the window adds the new lines at its end instead of showing the
// whole text anew.
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

namespace pell {

class PageLog {
public:
    explicit PageLog(std::string banner = {});

    // Appends "<Time:" + local time + ">:" + text. An empty text adds
    // nothing (it still empties a full log). True when the window had
    // nothing left to show before, so it must be asked to catch up.
    bool Append(std::string_view text, std::time_t when);
    bool Append(std::string_view text);

    // What the window has not shown yet: empty itself first (when `cleared`),
    // then add `added` at its end.
    struct Change {
        bool cleared = false;
        std::string added;
        bool empty() const { return !cleared && added.empty(); }
    };
    Change TakePending();

    // Empties the log; the window empties itself and has nothing to catch up.
    void Clear();
    std::string Text() const;
    std::size_t Size() const;

private:
    mutable std::mutex mutex_;
    std::string text_;
    Change pending_;
};

} // namespace pell
