#include "pages/NetworkPageTexts.h"

namespace pell::networkpage {

namespace {

constexpr LabelChoice kWorkModeChoices[] = {
    {"0", kTcp},
    {"1", kUdp},
};

} // namespace

const LabelTable& WorkModeLabels()
{
    static const LabelTable table{kWorkModeChoices, LabelMatch::WholeText, kTcp, std::string_view("0")};
    return table;
}

} // namespace pell::networkpage
