#pragma once
// Routing of parameter values to the page controls that show them.
//
// The configuration page owns one router and, through it, its parameter
// pages: every parameter page registers with the router it was made for
// while it exists (by its dialog template), and the router's owner deletes
// the pages still registered (DeletePages) before the router goes. SetPageValue / GetPageValue look the parameter up in the page
// map and call the setter or getter of the page that shows it. A parameter
// without a control - the nine that no page shows, and those of pages not
// created - reports "no control": the setter does nothing, the getter
// yields no value, and the write passes over it. Each page keeps the
// parameter model (SetModel) up to date with what its getter would yield.
//
// How the jobs use it (the configuration page shows all the values of a
// job step in one call into the UI thread, and reads the model):
//  - write: a parameter whose model holds no value is passed over (no
//    control, or a control that shows no value); nothing is sent for it.
//  - read-back: ShowPageValue for every parameter; a control that shows no
//    value counts as differing from any table value and gets the table's
//    value (an id without a control is passed over). A control still
//    showing what it was given reads as the given bytes (ParamPage::
//    GetValue), so neither a second read-back nor a save touches it.
//  - start-up: the configuration page's InitConfigPage calls InitPages()
//    once every page window exists (the basic page starts its clock then).
//
// UI thread only (the pages' widgets live there): the configuration worker
// reaches these through the configuration page's UI-thread calls. Request()
// and Model() alone may be called from any thread; the object it returns lives as long
// as its page (the pages outlive the worker: the configuration page joins
// it before the pages go).
#include "pages/ParameterModel.h"
#include "pages/ParamPage.h"
#include "pages/RequestText.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace pell::ui {

class PageRouter {
public:
    PageRouter() = default;
    // Pages still registered forget the router (they no longer reach it).
    ~PageRouter();
    PageRouter(const PageRouter&) = delete;
    PageRouter& operator=(const PageRouter&) = delete;

    // Deletes every registered page (the owner's pages), newest of each
    // template first. UI thread, with no worker calling into the pages.
    void DeletePages();

    // Shows the value text on the control of the id. False when the id has
    // no control (nothing changes then).
    bool SetPageValue(int paramId, const std::string& gbkText);
    // SetPageValue, unless the control already shows the text: a value the
    // user sees does not flicker, and nothing else of the control (cursor,
    // undo history) changes. True when the control was set.
    bool ShowPageValue(int paramId, const std::string& gbkText);
    // Fills `gbkText` with the page value of the id. False, with the text
    // emptied, when the id has no control or its control holds no value.
    bool GetPageValue(int paramId, std::string& gbkText);
    // Whether a created page shows the id.
    bool HasControl(int paramId) const;

    // Runs every registered page's InitPage once, in the configuration
    // page's page order. Later calls do nothing for pages already done.
    void InitPages();

    // The request text of a slot, from whichever page offers it; nullptr
    // when no created page does.
    RequestText* Request(RequestSlot slot) const;
    // The records of whichever created page keeps them; nullptr when none
    // does. Any thread.
    std::shared_ptr<HistoryRecords> Records() const;

    // The registered page of a template, or nullptr.
    ParamPage* Page(int templateId) const;

    // The model the pages keep what their controls represent in (the
    // configuration page's); every registered page fills it at once, and
    // keeps it up to date on every change of a control. nullptr: none.
    void SetModel(ParameterModel* model);
    ParameterModel* Model() const;

    // The worker that serves the pages' requests: attached to every request
    // of the registered pages, and of a page registered later when
    // InitPages runs for it; nullptr detaches it. UI thread.
    void SetRequestObserver(RequestObserver* observer);

    // Pages call these from their constructor and destructor.
    void Register(ParamPage* page);
    void Unregister(ParamPage* page);

private:
    mutable std::mutex m_; // the registry only; Request() may come from the worker
    std::map<int, ParamPage*> pages_; // the page each template routes to
    std::vector<ParamPage*> all_;     // every registered page, in the order made
    RequestObserver* observer_ = nullptr;
    ParameterModel* model_ = nullptr;
};

} // namespace pell::ui
