// The pairing of parameters with page controls.
#include "pages/PageMap.h"
#include "protocol/CommandTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

using namespace pell;

TEST(PageMap, EveryParameterHasOneControlExceptTheNine)
{
    const auto without = ParamsWithoutControl();
    EXPECT_EQ(std::vector<int>(without.begin(), without.end()),
              (std::vector<int>{7, 8, 9, 10, 11, 26, 27, 28, 29}));
    int withControl = 0;
    for (int id = 0; id <= 144; ++id) {
        const bool isWithout = std::find(without.begin(), without.end(), id) != without.end();
        EXPECT_EQ(FindPageControl(id).has_value(), !isWithout) << id;
        EXPECT_TRUE(HasParamRow(id)) << id;
        withControl += FindPageControl(id) ? 1 : 0;
    }
    EXPECT_EQ(withControl, 145 - 9);
    // Commands, special values, the end row and nonsense have no control.
    for (int id : {-1, 145, 146, 151, 152, 153, 157, 161, 164, 1000})
        EXPECT_FALSE(FindPageControl(id)) << id;
}

TEST(PageMap, PagesHoldTheirParametersAndUniqueControls)
{
    const std::map<int, std::size_t> expectedCounts = {{133, 10}, {134, 14}, {141, 24}, {142, 16},
                                                       {143, 12}, {144, 16}, {145, 20}, {147, 10},
                                                       {138, 7},  {139, 7}};
    const auto templates = ParamPageTemplates();
    EXPECT_EQ(std::vector<int>(templates.begin(), templates.end()),
              (std::vector<int>{133, 134, 141, 142, 143, 144, 145, 147, 138, 139}));
    for (int t : templates) {
        const auto ids = ParamsOfPage(t);
        EXPECT_EQ(ids.size(), expectedCounts.at(t)) << t;
        EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end())) << t;
        std::set<int> controls;
        for (int id : ids) {
            auto pc = FindPageControl(id);
            ASSERT_TRUE(pc) << id;
            EXPECT_EQ(pc->templateId, t);
            EXPECT_TRUE(controls.insert(pc->controlId).second) << "control " << pc->controlId
                                                                << " twice on page " << t;
        }
    }
    EXPECT_TRUE(ParamsOfPage(132).empty());
    EXPECT_TRUE(ParamsOfPage(149).empty());
    // 1134 is a control of three pages, each time another parameter.
    EXPECT_EQ(FindPageControl(80)->controlId, 1134);
    EXPECT_EQ(FindPageControl(81)->controlId, 1134);
    EXPECT_EQ(FindPageControl(117)->controlId, 1134);
}

TEST(PageMap, BasicPagePairs)
{
    const std::map<int, int> expected = {{0, 1039},   {1, 1041},   {2, 1054},  {3, 1042},
                                         {4, 1051},   {5, 1052},   {6, 1053},  {127, 1043},
                                         {128, 1044}, {129, 1045}};
    const auto ids = ParamsOfPage(133);
    ASSERT_EQ(ids.size(), expected.size());
    for (int id : ids) {
        auto pc = FindPageControl(id);
        ASSERT_TRUE(pc);
        EXPECT_EQ(pc->controlId, expected.at(id)) << id;
    }
    // A few pairs of other pages, as the read-back uses them.
    EXPECT_EQ(FindPageControl(13)->templateId, 134);
    EXPECT_EQ(FindPageControl(13)->controlId, 1064);
    EXPECT_EQ(FindPageControl(130)->templateId, 141);
    EXPECT_EQ(FindPageControl(130)->controlId, 1109);
    EXPECT_EQ(FindPageControl(144)->templateId, 139);
    EXPECT_EQ(FindPageControl(144)->controlId, 1100);
}
