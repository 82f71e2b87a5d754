#pragma once
// A parameter page: a page of the configuration tool whose controls show
// controller parameters. The parameter descriptors (pages/ParamDescriptor.h)
// state, per parameter id, the control of the page that shows it and the
// rule that turns the value text into the control's state and back. A page
// registers with the router of the configuration page it belongs to while it
// exists, so that page's SetPageValue / GetPageValue reach it.
//
// Everything here runs on the UI thread; the configuration worker reaches
// it through RunOnUiThread.
#include "ui/DialogPage.h"
#include "pages/RequestText.h"
#include "pages/HistoryRecords.h"
#include "pages/ParamDescriptor.h"

#include <QString>

#include <map>
#include <optional>
#include <string>

namespace pell::ui {

class PageRouter;

class ParamPage : public DialogPage {
    Q_OBJECT
public:
    ParamPage(int templateId, PageRouter& router, QWidget* parent = nullptr);
    ~ParamPage() override;

    // Shows a value text (GBK) on the control of the parameter. False when
    // this page has no control for the id. The page keeps the text with the
    // state it gave the control (see GetValue).
    virtual bool SetValue(int paramId, const std::string& gbkText);
    // The value text (GBK) the control of the parameter now represents.
    // While the control still shows what SetValue gave it, that is the text
    // SetValue was given, byte for byte: a value the user did not touch goes
    // back as the controller sent it, even when its rule would read the
    // control otherwise (bytes that are not valid GBK, "01" on a number
    // list, "15" on a digit list, a code that picked the default label).
    // Otherwise the control's state is read by the parameter's rule.
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
    // The records a records query of this page reads into, or nullptr. Any
    // thread, like Request().
    virtual std::shared_ptr<HistoryRecords> OfferedRecords() const { return nullptr; }

protected:
    // The descriptor of a parameter this page shows, or nullptr.
    const ParamDescriptor* FindBinding(int paramId) const;
    // The control of a parameter on this page (from the page map).
    QWidget* ValueControl(int paramId) const;

    // The rules at the widget boundary (QLineEdit or QComboBox).
    static void ApplyValue(QWidget* control, const ParamDescriptor& b, const std::string& gbkText);
    static std::optional<std::string> ReadValue(const QWidget* control, const ParamDescriptor& b);

private:
    friend class PageRouter;

    // What a control shows: its text and, for a list, its selected item.
    struct ControlState {
        QString text;
        int index = -1;
        bool operator==(const ControlState&) const = default;
    };
    static ControlState StateOf(const QWidget* control);
    void followTypedTexts();
    // Keeps the model (PageRouter::Model) up to date with what the
    // parameter's control represents, on every change of the control.
    void publishChanges();
    void publish(int paramId);
    void publishAll();
    // A value text SetValue was given and the state it gave the control.
    struct GivenValue {
        std::string gbkText;
        ControlState shown;
    };

    // The router this page is registered with; nullptr once it went first.
    PageRouter* router_;
    std::map<int, GivenValue> given_; // by parameter id
    bool initDone_ = false; // InitPage ran
};

} // namespace pell::ui
