#pragma once
// Helpers of the parameter page tests: the GBK words as shown, and the
// label that names a control.
#include "ui/DialogPage.h"
#include "ui/Gbk.h"
#include "pages/PageMap.h"
#include "pages/PageRouter.h"
#include "tests/pages/PageValues.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pell::test {

inline QString Q(const char* gbk)
{
    return ui::FromGbk(gbk);
}

// The label whose buddy is the control, or nullptr.
inline QLabel* BuddyLabel(const ui::DialogPage& page, const QWidget* control)
{
    for (QWidget* w : page.Controls().All())
        if (auto* label = qobject_cast<QLabel*>(w); label && label->buddy() == control)
            return label;
    return nullptr;
}

// Whether the page holds a group box with that title.
inline bool HasGroup(const ui::DialogPage& page, const QString& title)
{
    for (QWidget* w : page.Controls().All())
        if (auto* g = qobject_cast<QGroupBox*>(w); g && g->title() == title)
            return true;
    return false;
}

// Every control has its label (UTF-8 text) as its buddy, left of it on its
// own line.
inline void ExpectLabels(const ui::DialogPage& page, const std::map<int, std::string>& labels)
{
    for (const auto& [id, text] : labels) {
        QWidget* control = page.Control(id);
        ASSERT_NE(control, nullptr) << id;
        QLabel* label = BuddyLabel(page, control);
        ASSERT_NE(label, nullptr) << id;
        EXPECT_EQ(label->text(), QString::fromUtf8(text.c_str())) << id;
        EXPECT_LT(label->x(), control->x()) << id;
        EXPECT_LT(std::abs(label->y() - control->y()), control->height()) << id;
    }
}

// The items of a list box (UTF-8 texts).
inline void ExpectItems(const ui::DialogPage& page, int id, const std::vector<std::string>& items)
{
    auto* combo = page.ControlAs<QComboBox>(id);
    ASSERT_NE(combo, nullptr) << id;
    ASSERT_EQ(combo->count(), static_cast<int>(items.size())) << id;
    for (int k = 0; k < combo->count(); ++k)
        EXPECT_EQ(combo->itemText(k), QString::fromUtf8(items[k].c_str())) << id << " item " << k;
    EXPECT_TRUE(combo->isEditable()) << id;
}

// A combo box as it starts: no selection, no text.
inline void ExpectUnselected(const ui::DialogPage& page, int id)
{
    auto* combo = page.ControlAs<QComboBox>(id);
    ASSERT_NE(combo, nullptr) << id;
    EXPECT_EQ(combo->currentIndex(), -1) << id;
    EXPECT_EQ(combo->currentText(), QString()) << id;
}

// The page value of a parameter, nullopt when the page yields none.
inline std::optional<std::string> PageValue(ui::PageRouter& router, int paramId)
{
    std::string text = "stale";
    if (!ui::GetPageValue(router, paramId, text)) {
        EXPECT_EQ(text, "") << paramId;
        return std::nullopt;
    }
    return text;
}

// One row of a setter/getter table: the value set, what the control then
// shows (UTF-8) and what the getter yields.
struct ValueCase {
    int paramId;
    std::string value;
    std::string shown;
    std::optional<std::string> back;
};

inline void ExpectValueCases(ui::PageRouter& router, const ui::DialogPage& page, const std::vector<ValueCase>& cases)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << c.paramId << " value '" << c.value << "'");
        ASSERT_TRUE(ui::SetPageValue(router, c.paramId, c.value));
        const auto where = FindPageControl(c.paramId);
        ASSERT_TRUE(where && where->templateId == page.TemplateId());
        QWidget* control = page.Control(where->controlId);
        ASSERT_NE(control, nullptr);
        QString shown;
        if (auto* e = qobject_cast<QLineEdit*>(control))
            shown = e->text();
        else if (auto* b = qobject_cast<QComboBox*>(control))
            shown = b->currentText();
        EXPECT_EQ(shown, QString::fromUtf8(c.shown.c_str()));
        EXPECT_EQ(PageValue(router, c.paramId), c.back);
    }
}

} // namespace pell::test
