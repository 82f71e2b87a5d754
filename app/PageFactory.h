#pragma once
#include <QWidget>

namespace pell::ui {

// Creates the page of a template as a child of `parent`: the page class of
// that template where one exists, else a plain page of its template.
QWidget* CreatePage(int templateId, QWidget* parent);

} // namespace pell::ui
