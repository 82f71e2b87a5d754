#include "pages/RequestText.h"

#include "pages/ValueRules.h"

#include <utility>

namespace pell {

void RequestText::Set(std::string text)
{
    // The job sends the request as the value of one command line: a line
    // break in it would make a second command of the rest.
    text.resize(CutAtLineBreak(text).size());
    std::lock_guard<std::mutex> lock(m_);
    text_ = std::move(text);
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
    std::lock_guard<std::mutex> lock(m_);
    text_.clear();
}

} // namespace pell
