#include "pages/BasicPageTexts.h"

namespace pell::basicpage {

namespace {

constexpr LabelChoice kDebugChoices[] = {
    {"1", kSimpleLog},
    {"2", kDetailedLog},
};

constexpr LabelChoice kOnOffChoices[] = {
    {"0", kNo},
    {"1", kYes},
};

} // namespace

const LabelTable& DebugLevelLabels()
{
    static const LabelTable table{kDebugChoices, LabelMatch::FirstChar, kNoLog, std::string_view("0")};
    return table;
}

const LabelTable& OnOffLabels()
{
    static const LabelTable table{kOnOffChoices, LabelMatch::FirstChar, std::string_view(), std::nullopt};
    return table;
}

} // namespace pell::basicpage
