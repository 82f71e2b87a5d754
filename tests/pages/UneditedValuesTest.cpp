// A value given to a control and not edited comes back byte for byte,
// whatever the control's rule makes of it; an edit is read by the rule.
#include "pages/CPellCfgCntDlg.h"
#include "pages/CPellCfgSmsDlg.h"
#include "pages/CPellCfgUartDlg.h"
#include "tests/pages/PageTestSupport.h"
#include "tests/pages/PageValues.h"

#include <functional>

using namespace pell;
using namespace pell::ui;
using namespace pell::test;

namespace {

using Edit = std::function<void(QWidget*)>;

Edit typed(const char* utf8)
{
    return [utf8](QWidget* w) {
        if (auto* e = qobject_cast<QLineEdit*>(w))
            e->setText(QString::fromUtf8(utf8));
        else
            qobject_cast<QComboBox*>(w)->lineEdit()->setText(QString::fromUtf8(utf8));
    };
}

Edit picked(int item)
{
    return [item](QWidget* w) { qobject_cast<QComboBox*>(w)->setCurrentIndex(item); };
}

TEST(UneditedValues, ComeBackAsGivenAndEditsByTheirRule)
{
    PageRouter router;
    CPellCfgCntDlg counter(router);
    CPellCfgUartDlg serial(router);
    CPellCfgSmsDlg sms(router);
    router.InitPages();
    const ParamPage* pages[] = {&counter, &serial, &sms};
    struct Case {
        int paramId; // 82 edit, 97 free-text list, 81 digit, 101 number, 135 label
        std::string given;
        Edit edit; // none: untouched
        std::string back;
    };
    const std::string lead = "\xD6\xD0\xD6\xD0\xD6", pair = "X\xFE" "0Y", lone = "\xA1";
    const Case cases[] = {
        {82, lead, {}, lead}, {82, pair, {}, pair}, {82, lone, {}, lone},
        {97, pair, {}, pair}, {97, lone, {}, lone},
        {81, lead, {}, lead}, {81, lone, {}, lone}, {81, "15", {}, "15"},
        {101, "01", {}, "01"}, {101, pair, {}, pair},
        {135, lone, {}, lone}, {135, "01", {}, "01"},
        {82, lead, typed("中"), "\xD6\xD0"}, {97, pair, typed("9600"), "9600"},
        {81, lone, picked(2), "2"}, {101, "01", picked(5), "5"}, {101, "01", typed("MK_301"), "3"},
        {135, lone, picked(1), "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "id " << c.paramId << (c.edit ? " edited" : ""));
        ASSERT_TRUE(SetPageValue(router, c.paramId, c.given));
        QWidget* control = nullptr;
        for (const ParamPage* p : pages)
            if (p->TemplateId() == FindPageControl(c.paramId)->templateId)
                control = p->Control(FindPageControl(c.paramId)->controlId);
        ASSERT_NE(control, nullptr);
        if (c.edit)
            c.edit(control);
        EXPECT_EQ(PageValue(router, c.paramId), c.back);
    }
}

} // namespace
