#include "config/ConfigLog.h"

#include "common/LogLine.h"

namespace pell {

ConfigLog::ConfigLog(std::string banner) : text_(std::move(banner)) {}

bool ConfigLog::Append(std::string_view text, std::time_t when)
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

bool ConfigLog::Append(std::string_view text)
{
    return Append(text, std::time(nullptr));
}

ConfigLog::Change ConfigLog::TakePending()
{
    std::lock_guard<std::mutex> lock(mutex_);
    Change change = std::move(pending_);
    pending_ = Change{};
    return change;
}

void ConfigLog::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    text_.clear();
    pending_ = Change{};
}

std::string ConfigLog::Text() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

std::size_t ConfigLog::Size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return text_.size();
}

} // namespace pell
