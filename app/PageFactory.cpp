#include "app/PageFactory.h"

#include "app/DialogPage.h"

namespace pell::ui {

QWidget* CreatePage(int templateId, QWidget* parent)
{
    switch (templateId) {
    default:
        return new DialogPage(templateId, parent);
    }
}

} // namespace pell::ui
