#pragma once
// Lists that a page fills in code.
#include <initializer_list>

class QComboBox;

namespace pell::ui {

// Adds the items (GBK) to the box and leaves it as it was before: no item
// selected and the text it showed (adding to an empty list would select the
// first item and show its text).
void FillUnselected(QComboBox* combo, std::initializer_list<const char*> gbkItems);

} // namespace pell::ui
