#include "pages/RequestText.h"

#include "pages/ValueRules.h"

#include <utility>
#include <vector>

namespace pell {

namespace {

struct Listeners {
    std::mutex m;
    std::vector<Event*> events;
    std::vector<RequestObserver*> observers;
};

Listeners& listeners()
{
    static Listeners l;
    return l;
}

void tellListeners(const RequestText& request)
{
    Listeners& l = listeners();
    std::lock_guard<std::mutex> lock(l.m);
    for (Event* e : l.events)
        e->set();
    for (RequestObserver* o : l.observers)
        o->OnRequestSet(request);
}

} // namespace

void AddRequestListener(Event* listener)
{
    Listeners& l = listeners();
    std::lock_guard<std::mutex> lock(l.m);
    l.events.push_back(listener);
}

void RemoveRequestListener(Event* listener)
{
    Listeners& l = listeners();
    std::lock_guard<std::mutex> lock(l.m);
    std::erase(l.events, listener);
}

void AddRequestObserver(RequestObserver* observer)
{
    Listeners& l = listeners();
    std::lock_guard<std::mutex> lock(l.m);
    l.observers.push_back(observer);
}

void RemoveRequestObserver(RequestObserver* observer)
{
    Listeners& l = listeners();
    std::lock_guard<std::mutex> lock(l.m);
    std::erase(l.observers, observer);
}

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
    tellListeners(*this);
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

void RequestText::Running(bool running)
{
    std::lock_guard<std::mutex> lock(hookMutex_);
    if (running_)
        running_(running);
}

} // namespace pell
