#include "pages/PageMap.h"

#include "pages/ParamDescriptor.h"

#include <algorithm>
#include <map>
#include <vector>

namespace pell {

namespace {

struct Index {
    std::vector<std::optional<PageControl>> byParam;
    std::map<int, std::vector<int>> paramsByPage;
    std::vector<int> templates; // in the order of their first parameter
    std::vector<int> without;
};

const Index& index()
{
    static const Index idx = [] {
        Index i;
        for (const ParamDescriptor& d : ParamDescriptors()) {
            if (!d.OnPage()) {
                i.byParam.emplace_back();
                i.without.push_back(d.id);
                continue;
            }
            i.byParam.emplace_back(PageControl{d.templateId, d.controlId});
            if (std::find(i.templates.begin(), i.templates.end(), d.templateId) == i.templates.end())
                i.templates.push_back(d.templateId);
            i.paramsByPage[d.templateId].push_back(d.id); // id order: ascending
        }
        return i;
    }();
    return idx;
}

} // namespace

std::optional<PageControl> FindPageControl(int paramId)
{
    const auto& byParam = index().byParam;
    if (paramId < 0 || static_cast<std::size_t>(paramId) >= byParam.size())
        return std::nullopt;
    return byParam[static_cast<std::size_t>(paramId)];
}

std::span<const int> ParamsWithoutControl()
{
    return index().without;
}

std::span<const int> ParamsOfPage(int templateId)
{
    const auto& byPage = index().paramsByPage;
    auto it = byPage.find(templateId);
    if (it == byPage.end())
        return {};
    return it->second;
}

std::span<const int> ParamPageTemplates()
{
    return index().templates;
}

} // namespace pell
