#include "pages/PageMap.h"

#include <algorithm>
#include <array>
#include <map>
#include <vector>

namespace pell {

namespace {

struct PagePairs {
    int templateId;
    std::vector<std::pair<int, int>> pairs; // parameter id, control id
};

const std::vector<PagePairs>& pages()
{
    static const std::vector<PagePairs> all = {
        {133, {{0, 1039}, {1, 1041}, {2, 1054}, {3, 1042}, {4, 1051}, {5, 1052}, {6, 1053},
               {127, 1043}, {128, 1044}, {129, 1045}}},
        {134, {{12, 1042}, {13, 1064}, {14, 1043}, {15, 1044}, {16, 1045}, {17, 1054}, {18, 1055},
               {19, 1028}, {20, 1029}, {21, 1030}, {22, 1031}, {23, 1061}, {24, 1062}, {25, 1063}}},
        {141, {{30, 1094}, {31, 1097}, {32, 1099}, {33, 1101}, {34, 1103}, {35, 1105}, {36, 1111},
               {37, 1112}, {38, 1095}, {39, 1108}, {40, 1080}, {41, 1090}, {42, 1089}, {43, 1118},
               {44, 1081}, {45, 1082}, {46, 1083}, {47, 1123}, {48, 1084}, {49, 1085}, {50, 1086},
               {51, 1091}, {52, 1092}, {130, 1109}}},
        {142, {{53, 1112}, {54, 1080}, {55, 1116}, {56, 1119}, {57, 1113}, {58, 1081}, {59, 1117},
               {60, 1121}, {61, 1114}, {62, 1082}, {63, 1118}, {64, 1122}, {65, 1115}, {66, 1083},
               {67, 1120}, {68, 1123}}},
        {143, {{69, 1124}, {70, 1128}, {71, 1125}, {72, 1130}, {73, 1126}, {74, 1131}, {75, 1127},
               {76, 1132}, {77, 1129}, {78, 1133}, {79, 1135}, {80, 1134}}},
        {144, {{81, 1134}, {82, 1138}, {83, 1124}, {84, 1142}, {85, 1135}, {86, 1139}, {87, 1125},
               {88, 1143}, {89, 1136}, {90, 1140}, {91, 1126}, {92, 1144}, {93, 1137}, {94, 1141},
               {95, 1127}, {96, 1145}}},
        {145, {{97, 1155}, {98, 1151}, {99, 1167}, {100, 1159}, {101, 1163}, {102, 1156},
               {103, 1152}, {104, 1168}, {105, 1160}, {106, 1164}, {107, 1157}, {108, 1153},
               {109, 1171}, {110, 1161}, {111, 1165}, {112, 1158}, {113, 1154}, {114, 1169},
               {115, 1162}, {116, 1166}}},
        {147, {{117, 1134}, {118, 1139}, {119, 1135}, {120, 1140}, {121, 1136}, {122, 1141},
               {123, 1137}, {124, 1142}, {125, 1174}, {126, 1173}}},
        {138, {{131, 1079}, {132, 1081}, {133, 1082}, {134, 1083}, {135, 1084}, {136, 1085},
               {137, 1086}}},
        {139, {{138, 1094}, {139, 1028}, {140, 1096}, {141, 1097}, {142, 1098}, {143, 1099},
               {144, 1100}}},
    };
    return all;
}

constexpr int kFirstParam = 0;
constexpr int kLastParam = 144;

struct Index {
    std::array<std::optional<PageControl>, kLastParam + 1> byParam;
    std::map<int, std::vector<int>> paramsByPage;
    std::vector<int> templates;
};

const Index& index()
{
    static const Index idx = [] {
        Index i;
        for (const auto& page : pages()) {
            i.templates.push_back(page.templateId);
            auto& ids = i.paramsByPage[page.templateId];
            for (auto [param, control] : page.pairs) {
                i.byParam[static_cast<std::size_t>(param)] = PageControl{page.templateId, control};
                ids.push_back(param);
            }
            std::sort(ids.begin(), ids.end());
        }
        return i;
    }();
    return idx;
}

constexpr std::array<int, 9> kWithoutControl = {7, 8, 9, 10, 11, 26, 27, 28, 29};

} // namespace

std::optional<PageControl> FindPageControl(int paramId)
{
    if (paramId < kFirstParam || paramId > kLastParam)
        return std::nullopt;
    return index().byParam[static_cast<std::size_t>(paramId)];
}

std::span<const int> ParamsWithoutControl()
{
    return kWithoutControl;
}

std::span<const int> ParamsOfPage(int templateId)
{
    const auto& byPage = index().paramsByPage;
    auto it = byPage.find(templateId);
    if (it == byPage.end())
        return {};
    return it->second;
}

std::span<const int> ParamPageTemplates()
{
    return index().templates;
}

} // namespace pell
