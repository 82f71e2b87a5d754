#include "pages/ParamPage.h"

#include "ui/Gbk.h"
#include "pages/PageMap.h"
#include "pages/PageRouter.h"

#include <QComboBox>
#include <QLineEdit>

namespace pell::ui {

ParamPage::ParamPage(int templateId, PageRouter& router, QWidget* parent)
    : DialogPage(templateId, parent), router_(&router)
{
    followTypedTexts();
    publishChanges();
    router.Register(this);
    publishAll();
}

ParamPage::~ParamPage()
{
    if (router_ == nullptr)
        return;
    ParameterModel* model = router_->Model();
    router_->Unregister(this);
    if (model != nullptr)
        for (int id : ParamsOfPage(TemplateId()))
            model->RemoveControl(id);
}

void ParamPage::publishChanges()
{
    // After followTypedTexts: an editable list has followed the typed text
    // when its change reaches the model.
    for (int id : ParamsOfPage(TemplateId())) {
        QWidget* control = ValueControl(id);
        if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            connect(edit, &QLineEdit::textChanged, this, [this, id] { publish(id); });
        } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
            connect(combo, &QComboBox::currentIndexChanged, this, [this, id] { publish(id); });
            connect(combo, &QComboBox::currentTextChanged, this, [this, id] { publish(id); });
            connect(combo, &QComboBox::editTextChanged, this, [this, id] { publish(id); });
        }
    }
}

void ParamPage::publish(int paramId)
{
    ParameterModel* model = router_ != nullptr ? router_->Model() : nullptr;
    if (model == nullptr || !HasValueControl(paramId))
        return;
    std::string text;
    if (GetValue(paramId, text))
        model->Hold(paramId, text);
    else
        model->Hold(paramId, std::nullopt);
}

void ParamPage::publishAll()
{
    for (int id : ParamsOfPage(TemplateId()))
        publish(id);
}

const ParamDescriptor* ParamPage::FindBinding(int paramId) const
{
    const ParamDescriptor* d = FindParamDescriptor(paramId);
    return d != nullptr && d->templateId == TemplateId() ? d : nullptr;
}

QWidget* ParamPage::ValueControl(int paramId) const
{
    auto pc = FindPageControl(paramId);
    if (!pc || pc->templateId != TemplateId())
        return nullptr;
    return Control(pc->controlId);
}

bool ParamPage::HasValueControl(int paramId) const
{
    return FindBinding(paramId) && ValueControl(paramId);
}

bool ParamPage::SetValue(int paramId, const std::string& gbkText)
{
    const ParamDescriptor* b = FindBinding(paramId);
    QWidget* control = ValueControl(paramId);
    if (!b || !control)
        return false;
    ApplyValue(control, *b, gbkText);
    given_[paramId] = GivenValue{gbkText, StateOf(control)};
    publish(paramId); // the given bytes, not the control's reading of them
    return true;
}

bool ParamPage::GetValue(int paramId, std::string& gbkText)
{
    gbkText.clear();
    const ParamDescriptor* b = FindBinding(paramId);
    QWidget* control = ValueControl(paramId);
    if (!b || !control)
        return false;
    // The widgets hold text, not bytes: decoding drops or replaces what is
    // not GBK, and a list keeps only an index. Reading the control anew
    // would rewrite a value nobody edited, so what the control was given
    // stands as long as it shows what it was given.
    std::optional<std::string> value;
    if (auto it = given_.find(paramId); it != given_.end() && it->second.shown == StateOf(control))
        value = it->second.gbkText;
    else
        value = ReadValue(control, *b);
    if (!value)
        return false;
    // Whatever the rule, a value never carries a line break on.
    gbkText = std::string(CutAtLineBreak(*value));
    return true;
}

ParamPage::ControlState ParamPage::StateOf(const QWidget* control)
{
    if (auto* edit = qobject_cast<const QLineEdit*>(control))
        return {edit->text(), -1};
    if (auto* combo = qobject_cast<const QComboBox*>(control))
        return {combo->currentText(), combo->currentIndex()};
    return {};
}

namespace {

// An editable list keeps its selection while the user types over it, so a
// typed "xyz" would still read as the old item. The typed text selects the
// item it names, or nothing (which the write passes over); the text stays
// as typed.
void followTypedText(QComboBox* combo, const QString& text)
{
    const int match = combo->findText(text, Qt::MatchExactly);
    if (match == combo->currentIndex())
        return;
    QLineEdit* edit = combo->lineEdit();
    const int cursor = edit ? edit->cursorPosition() : 0;
    const QSignalBlocker block(combo);
    combo->setCurrentIndex(match);
    if (edit && edit->text() != text) {
        edit->setText(text); // an index of -1 empties the edit
        edit->setCursorPosition(cursor);
    }
}

} // namespace

void ParamPage::followTypedTexts()
{
    // Editable lists of the digit and number rules follow what the user
    // types: the item with exactly that text, else no selection.
    for (int id : ParamsOfPage(TemplateId())) {
        const ParamDescriptor& b = *FindParamDescriptor(id);
        if (b.rule != ValueRule::Digit && b.rule != ValueRule::Number)
            continue;
        auto* combo = qobject_cast<QComboBox*>(ValueControl(b.id));
        if (!combo || !combo->isEditable())
            continue;
        connect(combo, &QComboBox::editTextChanged, combo,
                [combo](const QString& text) { followTypedText(combo, text); });
    }
}

RequestText* ParamPage::Request(RequestSlot)
{
    return nullptr;
}

namespace {

void selectItem(QComboBox* combo, int index)
{
    // An index that names no item leaves the list without a selection.
    combo->setCurrentIndex(IsListIndex(index, combo->count()) ? index : -1);
}

} // namespace

void ParamPage::ApplyValue(QWidget* control, const ParamDescriptor& b, const std::string& gbkText)
{
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(FromGbk(gbkText));
        return;
    }
    auto* combo = qobject_cast<QComboBox*>(control);
    if (!combo)
        return;
    switch (b.rule) {
    case ValueRule::Text:
        if (combo->isEditable())
            combo->setEditText(FromGbk(gbkText));
        else
            selectItem(combo, combo->findText(FromGbk(gbkText), Qt::MatchExactly));
        break;
    case ValueRule::Digit:
        selectItem(combo, DigitRuleIndex(gbkText));
        break;
    case ValueRule::Number:
        selectItem(combo, NumberRuleIndex(gbkText));
        break;
    case ValueRule::Label:
        if (b.labels) {
            // The label becomes the box's text; the list selection stays.
            const QString label = FromGbk(LabelRuleLabel(*b.labels, gbkText));
            if (combo->isEditable())
                combo->setEditText(label);
            else
                selectItem(combo, combo->findText(label, Qt::MatchExactly));
        }
        break;
    }
}

std::optional<std::string> ParamPage::ReadValue(const QWidget* control, const ParamDescriptor& b)
{
    // A typed character GBK lacks makes no value: it would reach the
    // controller as '?'. The write passes over the control.
    if (auto* edit = qobject_cast<const QLineEdit*>(control)) {
        const auto gbk = ToGbkExact(edit->text());
        return gbk ? std::optional(TextRuleValue(*gbk)) : std::nullopt;
    }
    auto* combo = qobject_cast<const QComboBox*>(control);
    if (!combo)
        return std::nullopt;
    switch (b.rule) {
    case ValueRule::Text: {
        const auto gbk = ToGbkExact(combo->currentText());
        return gbk ? std::optional(TextRuleValue(*gbk)) : std::nullopt;
    }
    case ValueRule::Digit:
        return DigitRuleValue(combo->currentIndex());
    case ValueRule::Number:
        return NumberRuleValue(combo->currentIndex());
    case ValueRule::Label:
        if (!b.labels)
            return std::nullopt;
        return LabelRuleValue(*b.labels, ToGbk(combo->currentText()));
    }
    return std::nullopt;
}

} // namespace pell::ui
