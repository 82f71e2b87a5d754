#pragma once
// A parameter page: a page of the configuration tool whose controls show
// controller parameters. Each page states, per parameter id, the rule that
// turns the value text into its control's state and back; the control
// itself follows from the page map (pages/PageMap.h). A page registers with
// the page router while it exists, so SetPageValue / GetPageValue reach it.
//
// Everything here runs on the UI thread; the configuration worker reaches
// it through RunOnUiThread.
#include "ui/DialogPage.h"
#include "pages/RequestText.h"
#include "pages/ValueRules.h"

#include <optional>
#include <span>
#include <string>

namespace pell::ui {

class ParamPage : public DialogPage {
    Q_OBJECT
public:
    ParamPage(int templateId, QWidget* parent = nullptr);
    ~ParamPage() override;

    // Shows a value text (GBK) on the control of the parameter. False when
    // this page has no control for the id.
    virtual bool SetValue(int paramId, const std::string& gbkText);
    // The value text (GBK) the control of the parameter now represents.
    // False, with the text emptied, when this page has no control for the
    // id or the control represents no value (a label the table does not
    // know, a list without a selection): the write then passes over it.
    virtual bool GetValue(int paramId, std::string& gbkText);
    // Whether this page shows the parameter.
    virtual bool HasValueControl(int paramId) const;

    // Called once after every page window exists (the configuration page's
    // start-up, through PageRouter::InitPages).
    virtual void InitPage() {}

    // The request text of a device action this page offers, or nullptr.
    // May be called from the worker (through PageRouter::Request): it only
    // hands out a member, never touches a widget.
    virtual RequestText* Request(RequestSlot slot);

protected:
    struct Binding {
        int paramId;
        ValueRule rule;
        const LabelTable* labels = nullptr; // label rule only
    };
    // The page's parameters with their rules; the span must outlive the page.
    // Editable lists of the digit and number rules follow what the user
    // types: the item with exactly that text, else no selection.
    void SetBindings(std::span<const Binding> bindings);
    const Binding* FindBinding(int paramId) const;
    // The control of a parameter on this page (from the page map).
    QWidget* ValueControl(int paramId) const;

    // The rules at the widget boundary (QLineEdit or QComboBox).
    static void ApplyValue(QWidget* control, const Binding& b, const std::string& gbkText);
    static std::optional<std::string> ReadValue(const QWidget* control, const Binding& b);

private:
    friend class PageRouter;
    std::span<const Binding> bindings_;
    bool initDone_ = false; // InitPage ran
};

} // namespace pell::ui
