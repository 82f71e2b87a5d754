#include "pages/PageRouter.h"

#include "pages/PageMap.h"

#include <algorithm>
#include <vector>

namespace pell::ui {

namespace {

// Every request a page offers. Called outside the router's lock: attaching
// waits for a request being set, whose observer may ask the router.
void observeRequests(ParamPage* page, RequestObserver* observer)
{
    for (int slot = 0; slot < kRequestSlotCount; ++slot)
        if (RequestText* request = page->Request(static_cast<RequestSlot>(slot)))
            request->SetObserver(observer);
}

} // namespace

PageRouter::~PageRouter()
{
    std::vector<ParamPage*> left;
    {
        std::lock_guard<std::mutex> lock(m_);
        left = all_;
        for (ParamPage* page : all_)
            page->router_ = nullptr;
    }
    for (ParamPage* page : left)
        observeRequests(page, nullptr);
}

void PageRouter::SetRequestObserver(RequestObserver* observer)
{
    std::vector<ParamPage*> pages;
    {
        std::lock_guard<std::mutex> lock(m_);
        observer_ = observer;
        pages = all_;
    }
    for (ParamPage* page : pages)
        observeRequests(page, observer);
}

void PageRouter::DeletePages()
{
    for (;;) {
        ParamPage* page = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_);
            if (all_.empty())
                return;
            page = all_.back();
        }
        delete page; // unregisters itself
    }
}

void PageRouter::Register(ParamPage* page)
{
    std::lock_guard<std::mutex> lock(m_);
    pages_[page->TemplateId()] = page;
    all_.push_back(page);
}

void PageRouter::Unregister(ParamPage* page)
{
    std::lock_guard<std::mutex> lock(m_);
    std::erase(all_, page);
    auto it = pages_.find(page->TemplateId());
    if (it != pages_.end() && it->second == page)
        pages_.erase(it);
}

ParamPage* PageRouter::Page(int templateId) const
{
    std::lock_guard<std::mutex> lock(m_);
    auto it = pages_.find(templateId);
    return it == pages_.end() ? nullptr : it->second;
}

void PageRouter::SetModel(ParameterModel* model)
{
    std::vector<ParamPage*> pages;
    {
        std::lock_guard<std::mutex> lock(m_);
        model_ = model;
        for (auto& [t, page] : pages_)
            pages.push_back(page);
    }
    for (ParamPage* page : pages)
        page->publishAll();
}

ParameterModel* PageRouter::Model() const
{
    std::lock_guard<std::mutex> lock(m_);
    return model_;
}

bool PageRouter::SetPageValue(int paramId, const std::string& gbkText)
{
    auto pc = FindPageControl(paramId);
    if (!pc)
        return false;
    ParamPage* page = Page(pc->templateId);
    return page && page->SetValue(paramId, gbkText);
}

bool PageRouter::ShowPageValue(int paramId, const std::string& gbkText)
{
    std::string shown;
    if (GetPageValue(paramId, shown) && shown == gbkText)
        return false;
    return SetPageValue(paramId, gbkText);
}

bool PageRouter::GetPageValue(int paramId, std::string& gbkText)
{
    gbkText.clear();
    auto pc = FindPageControl(paramId);
    if (!pc)
        return false;
    ParamPage* page = Page(pc->templateId);
    return page && page->GetValue(paramId, gbkText);
}

bool PageRouter::HasControl(int paramId) const
{
    auto pc = FindPageControl(paramId);
    if (!pc)
        return false;
    ParamPage* page = Page(pc->templateId);
    return page && page->HasValueControl(paramId);
}

void PageRouter::InitPages()
{
    // Pages of other templates (the records page) come after the parameter
    // pages; each page runs its initialisation once.
    std::vector<ParamPage*> order;
    RequestObserver* observer;
    {
        std::lock_guard<std::mutex> lock(m_);
        observer = observer_;
        for (int t : ParamPageTemplates())
            if (auto it = pages_.find(t); it != pages_.end())
                order.push_back(it->second);
        for (auto& [t, page] : pages_)
            if (std::find(order.begin(), order.end(), page) == order.end())
                order.push_back(page);
    }
    for (ParamPage* page : order) {
        if (page->initDone_)
            continue;
        page->initDone_ = true;
        // The page is whole now (while it registered, its requests did not
        // exist yet).
        if (observer != nullptr)
            observeRequests(page, observer);
        page->InitPage();
        page->publishAll(); // lists filled in code

    }
}

std::shared_ptr<HistoryRecords> PageRouter::Records() const
{
    std::lock_guard<std::mutex> lock(m_);
    for (auto& [t, page] : pages_)
        if (auto records = page->OfferedRecords())
            return records;
    return nullptr;
}

RequestText* PageRouter::Request(RequestSlot slot) const
{
    std::lock_guard<std::mutex> lock(m_);
    for (auto& [t, page] : pages_)
        if (RequestText* r = page->Request(slot))
            return r;
    return nullptr;
}

} // namespace pell::ui
