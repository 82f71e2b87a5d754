#include "pages/PageLists.h"

#include "ui/Gbk.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace pell::ui {

void FillUnselected(QComboBox* combo, std::initializer_list<const char*> gbkItems)
{
    const QSignalBlocker block(combo);
    const QString shown = combo->currentText();
    const int selected = combo->currentIndex();
    for (const char* item : gbkItems)
        combo->addItem(FromGbk(item));
    combo->setCurrentIndex(selected);
    if (combo->isEditable())
        combo->setEditText(shown);
}

} // namespace pell::ui
