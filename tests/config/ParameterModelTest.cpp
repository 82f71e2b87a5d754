// The parameter model's own rules: what a page holds, what a job's value
// does to it, and when a parameter differs from the controller's table.
#include "pages/ParameterModel.h"
#include "protocol/ParamTable.h"

#include <gtest/gtest.h>

using namespace pell;

TEST(ParameterModel, ShowEditAndDiffer)
{
    ParamTable controller;
    controller.Set(2, "139");
    struct Case {
        const char* what;
        void (*act)(ParameterModel&);
        std::optional<std::string> value;
        bool differs;
    } cases[] = {
        {"shown as the table holds it", [](ParameterModel& m) { m.Show(2, "139"); }, "139", false},
        {"edited to another value", [](ParameterModel& m) { m.Show(2, "139"), m.Edit(2, "138"); }, "138", true},
        {"edited back", [](ParameterModel& m) { m.Edit(2, "138"), m.Edit(2, "139"); }, "139", false},
        {"an empty edit is a value", [](ParameterModel& m) { m.Edit(2, ""); }, "", true},
        {"unreadable: no value, no difference", [](ParameterModel& m) { m.Edit(2, "1"), m.MakeUnreadable(2); },
         std::nullopt, false},
        {"a shown value makes it readable again", [](ParameterModel& m) { m.MakeUnreadable(2), m.Show(2, "7"); },
         "7", true},
        {"control removed", [](ParameterModel& m) { m.Edit(2, "1"), m.RemoveControl(2); }, std::nullopt, false},
        {"no control: a shown value is passed over", [](ParameterModel& m) { m.RemoveControl(2), m.Show(2, "1"); },
         std::nullopt, false},
    };
    for (const Case& c : cases) {
        ParameterModel model(controller, {2});
        c.act(model);
        EXPECT_EQ(model.Value(2), c.value) << c.what;
        EXPECT_EQ(model.Differs(2), c.differs) << c.what;
    }
}

TEST(ParameterModel, ShowTellsWhetherThePageChanged)
{
    const ParamTable controller;
    ParameterModel model(controller, {0});
    EXPECT_EQ(model.Show(0, "a"), ParameterModel::ShowResult::Shown);
    EXPECT_EQ(model.Show(0, "a"), ParameterModel::ShowResult::Already);
    model.MakeUnreadable(0);
    EXPECT_EQ(model.Shown(0), "a") << "the control still shows its text";
    EXPECT_EQ(model.Show(0, "a"), ParameterModel::ShowResult::Shown);
    EXPECT_EQ(model.Show(1, "a"), ParameterModel::ShowResult::NoControl);
    for (int id : {-1, 145, 164}) {
        model.Edit(id, "x");
        EXPECT_FALSE(model.HasControl(id)) << id;
        EXPECT_EQ(model.Show(id, "x"), ParameterModel::ShowResult::NoControl) << id;
    }
    EXPECT_EQ(model.Readings({0, 1, 145}), (PageReadings{std::string("a"), std::nullopt, std::nullopt}));
}

// The controller's side is the table itself, as it stands now: a value the
// controller took (a save stores it in the table) no longer differs.
TEST(ParameterModel, ComparesWithTheTableAsItStandsNow)
{
    ParamTable controller;
    controller.Set(2, "139");
    ParameterModel model(controller, {2});
    model.Edit(2, "138");
    EXPECT_EQ(model.Controller(2), "139");
    EXPECT_TRUE(model.Differs(2));
    controller.Set(2, "138");
    EXPECT_EQ(model.Controller(2), "138");
    EXPECT_FALSE(model.Differs(2));
    EXPECT_EQ(model.Controller(145), std::nullopt) << "no parameter row";
}
