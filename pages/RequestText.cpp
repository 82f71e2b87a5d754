#include "pages/RequestText.h"

#include "pages/ValueRules.h"

#include <utility>

namespace pell {

void RequestText::Set(std::string text)
{
    // The job sends the request as the value of one command line: a line
    // break in it would make a second command of the rest.
    text.resize(CutAtLineBreak(text).size());
    {
        std::lock_guard<std::mutex> lock(m_);
        text_ = std::move(text);
    }
    // After the text is in place: a worker woken now finds it.
    std::lock_guard<std::mutex> lock(hookMutex_);
    if (observer_ != nullptr)
        observer_->OnRequestSet(*this);
}

std::string RequestText::Get() const
{
    std::lock_guard<std::mutex> lock(m_);
    return text_;
}

bool RequestText::Empty() const
{
    std::lock_guard<std::mutex> lock(m_);
    return text_.empty();
}

void RequestText::Clear()
{
    bool wasSet;
    {
        std::lock_guard<std::mutex> lock(m_);
        wasSet = !text_.empty();
        text_.clear();
    }
    if (!wasSet)
        return;
    std::lock_guard<std::mutex> lock(hookMutex_);
    if (emptied_)
        emptied_();
}

void RequestText::SetEmptiedHook(std::function<void()> hook)
{
    std::lock_guard<std::mutex> lock(hookMutex_);
    emptied_ = std::move(hook);
}

void RequestText::SetAnswerHook(std::function<void(const std::string&)> hook)
{
    std::lock_guard<std::mutex> lock(hookMutex_);
    answer_ = std::move(hook);
}

void RequestText::SetRunningHook(std::function<void(bool)> hook)
{
    std::lock_guard<std::mutex> lock(hookMutex_);
    running_ = std::move(hook);
}

void RequestText::Answer(const std::string& gbkText)
{
    std::lock_guard<std::mutex> lock(hookMutex_);
    if (answer_)
        answer_(gbkText);
}

void RequestText::SetObserver(RequestObserver* observer)
{
    std::lock_guard<std::mutex> lock(hookMutex_);
    observer_ = observer;
}

void RequestText::Running(bool running)
{
    std::lock_guard<std::mutex> lock(hookMutex_);
    if (running_)
        running_(running);
}

} // namespace pell
