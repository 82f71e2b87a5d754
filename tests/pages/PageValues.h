#pragma once
// A parameter's value on the page that shows it, set and read the way the
// configuration page's jobs do (through the page router).
#include "pages/PageRouter.h"

#include <string>

namespace pell::ui {

inline bool SetPageValue(int paramId, const std::string& gbkText)
{
    return PageRouter::Instance().SetPageValue(paramId, gbkText);
}

inline bool GetPageValue(int paramId, std::string& gbkText)
{
    return PageRouter::Instance().GetPageValue(paramId, gbkText);
}

} // namespace pell::ui
