#pragma once
// A parameter's value on the page that shows it, set and read the way the
// configuration page's jobs do (through the page router the pages were
// made for).
#include "pages/PageRouter.h"

#include <string>

namespace pell::ui {

inline bool SetPageValue(PageRouter& router, int paramId, const std::string& gbkText)
{
    return router.SetPageValue(paramId, gbkText);
}

inline bool GetPageValue(PageRouter& router, int paramId, std::string& gbkText)
{
    return router.GetPageValue(paramId, gbkText);
}

} // namespace pell::ui
