#include "common/PageLog.h"

#include "common/LogLine.h"

namespace pell {

PageLog::PageLog(std::string banner) : text_(std::move(banner)) {}

bool PageLog::Append(std::string_view text, std::time_t when)
{
    std::string line;
    if (!text.empty())
        line = FormatLogLine(text, when);
    std::lock_guard<std::mutex> lock(mutex_);
    const bool wasShown = pending_.empty();
    if (text_.size() >= kLogLimit) {
        text_.clear();
        // Whatever the window had still to add is gone with the text.
        pending_.cleared = true;
        pending_.added.clear();
    }
    if (!line.empty()) {
        text_ += line;
        pending_.added += line;
    }
    return wasShown && !pending_.empty();
}

bool PageLog::Append(std::string_view text)
{
    return Append(text, std::time(nullptr));
}

PageLog::Change PageLog::TakePending()
{
    std::lock_guard<std::mutex> lock(mutex_);
    Change change = std::move(pending_);
    pending_ = Change{};
    return change;
}

void PageLog::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    text_.clear();
    pending_ = Change{};
}

std::string PageLog::Text() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

std::size_t PageLog::Size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return text_.size();
}

} // namespace pell
