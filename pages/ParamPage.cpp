#include "pages/ParamPage.h"

#include "ui/Gbk.h"
#include "pages/PageMap.h"
#include "pages/PageRouter.h"

#include <QComboBox>
#include <QLineEdit>

namespace pell::ui {

ParamPage::ParamPage(int templateId, QWidget* parent) : DialogPage(templateId, parent)
{
    PageRouter::Instance().Register(this);
}

ParamPage::~ParamPage()
{
    PageRouter::Instance().Unregister(this);
}

const ParamPage::Binding* ParamPage::FindBinding(int paramId) const
{
    for (const auto& b : bindings_)
        if (b.paramId == paramId)
            return &b;
    return nullptr;
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
    const Binding* b = FindBinding(paramId);
    QWidget* control = ValueControl(paramId);
    if (!b || !control)
        return false;
    ApplyValue(control, *b, gbkText);
    return true;
}

bool ParamPage::GetValue(int paramId, std::string& gbkText)
{
    gbkText.clear();
    const Binding* b = FindBinding(paramId);
    QWidget* control = ValueControl(paramId);
    if (!b || !control)
        return false;
    std::optional<std::string> value = ReadValue(control, *b);
    if (!value)
        return false;
    // Whatever the rule, a value never carries a line break on.
    gbkText = std::string(CutAtLineBreak(*value));
    return true;
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

void ParamPage::ApplyValue(QWidget* control, const Binding& b, const std::string& gbkText)
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

std::optional<std::string> ParamPage::ReadValue(const QWidget* control, const Binding& b)
{
    if (auto* edit = qobject_cast<const QLineEdit*>(control))
        return TextRuleValue(ToGbk(edit->text()));
    auto* combo = qobject_cast<const QComboBox*>(control);
    if (!combo)
        return std::nullopt;
    switch (b.rule) {
    case ValueRule::Text:
        return TextRuleValue(ToGbk(combo->currentText()));
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
