// The parameter descriptors against the dialog templates the pages are
// laid out from: a descriptor that names a control the page lacks, or a
// rule the control cannot carry, fails here and not on a technician's page.
#include "common/GbkText.h"
#include "pages/ParamDescriptor.h"
#include "res/DialogTemplate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

using namespace pell;

namespace {

const DialogTemplate& dialog(int id)
{
    static std::map<int, DialogTemplate> loaded;
    if (auto it = loaded.find(id); it != loaded.end())
        return it->second;
    std::ifstream f(std::string(PELL_SOURCE_DIR) + "/res/dialogs/" + std::to_string(id) + ".dlg");
    std::stringstream ss;
    ss << f.rdbuf();
    DialogTemplate t;
    std::string error;
    EXPECT_TRUE(ParseDialogTemplate(ss.str(), t, error)) << id << ": " << error;
    return loaded[id] = t;
}

} // namespace

TEST(ParamDescriptor, OneRowPerConfigurableIdWithItsCommandAndLabel)
{
    const auto rows = ParamDescriptors();
    ASSERT_EQ(rows.size(), 145u);
    for (int id = 0; id <= 144; ++id) {
        const ParamDescriptor* d = FindParamDescriptor(id);
        ASSERT_NE(d, nullptr) << id;
        EXPECT_EQ(d->id, id);
        ASSERT_NE(d->Command(), nullptr) << id;
        EXPECT_EQ(std::string(d->Command()).rfind("AT+", 0), 0u) << id;
        ASSERT_NE(d->ReportLabel(), nullptr) << id;
        EXPECT_EQ(d->OnPage(), d->controlId != 0) << id;
        EXPECT_EQ(d->rule == ValueRule::Label, d->labels != nullptr) << id;
    }
    for (int id : {-1, 145, 146, 152, 164})
        EXPECT_EQ(FindParamDescriptor(id), nullptr) << id;
}

TEST(ParamDescriptor, EveryRowAgreesWithItsDialogTemplate)
{
    for (const ParamDescriptor& d : ParamDescriptors()) {
        if (!d.OnPage())
            continue;
        const DialogTemplate& t = dialog(d.templateId);
        const ControlSpec* c = t.find(d.controlId);
        ASSERT_NE(c, nullptr) << d.id << ": no control " << d.controlId << " on " << d.templateId;
        if (d.rule == ValueRule::Text)
            EXPECT_TRUE(c->kind == "edit" || c->kind == "combo") << d.id << " is a " << c->kind;
        else
            EXPECT_EQ(c->kind, "combo") << d.id;
        const auto items = t.items.find(d.controlId);
        if (d.rule == ValueRule::Digit && items != t.items.end())
            EXPECT_LE(items->second.size(), 10u) << d.id << ": a digit picks one of ten items";
        if (d.rule == ValueRule::Label && items != t.items.end())
            for (const LabelChoice& choice : d.labels->choices)
                EXPECT_NE(std::find(items->second.begin(), items->second.end(), GbkToUtf8(choice.label)),
                          items->second.end())
                    << d.id << ": the list lacks a label";
    }
}

TEST(ParamDescriptor, TheLimitsAreTheOnesTheLabelsState)
{
    // Every "(a-b)" or "(固定…)" a parameter page's label states is the limit
    // of one parameter of that page, and no row states a limit no label does.
    const std::regex stated(R"(\((\d+-\d+|固定[^)]*)\))");
    std::map<int, std::vector<std::string>> onPage, inRows;
    for (const ParamDescriptor& d : ParamDescriptors()) {
        if (!d.OnPage())
            continue;
        onPage.try_emplace(d.templateId);
        if (!d.limit.empty())
            inRows[d.templateId].emplace_back(d.limit);
    }
    for (auto& [templateId, limits] : onPage) {
        for (const ControlSpec& c : dialog(templateId).controls)
            for (std::sregex_iterator m(c.text.begin(), c.text.end(), stated), end; m != end; ++m)
                limits.push_back(m->str());
        std::sort(limits.begin(), limits.end());
        auto& rows = inRows[templateId];
        std::sort(rows.begin(), rows.end());
        EXPECT_EQ(rows, limits) << templateId;
    }
    EXPECT_EQ(FindParamDescriptor(0)->limit, "(固定10位)");
    EXPECT_EQ(FindParamDescriptor(6)->limit, "(0-16)");
}
