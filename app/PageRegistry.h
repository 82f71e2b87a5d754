#pragma once
// The pages of the main window, one row each: the navigation tree, the page
// stack in the frame, the screenshot tool and the tests all read this table.
// A new page is its dialog template, its class and one row here.
#include "ui/PageServices.h"

#include <QWidget>

#include <span>

namespace pell::ui {

class PageRouter;

enum class PageKind {
    Tool,       // the download and debug tools, at the root of the tree
    Config,     // the configuration page, parent of the parameter pages
    Parameters, // a page of controller parameters
    Records,    // the card records
};

struct PageEntry {
    int templateId;      // the page's dialog template
    const char* caption; // the tree item's text (UTF-8), also the title above the frame
    // The template of the parent item: 0 at the root of the tree, -1 for a
    // page without a tree item (stacked and filled, never shown).
    int parent;
    PageKind kind;
    // A tool page talks to the controller through the services; a page of
    // parameters or records belongs to the configuration page and is made
    // for its router. One of the two is set.
    QWidget* (*createTool)(QWidget* parent, const PageServices& services);
    QWidget* (*createSettings)(QWidget* parent, PageRouter& router);

    bool InTree() const { return parent >= 0; }
};

// Every page in stack order; the tree lists its items in the same order.
std::span<const PageEntry> PageRegistry();
// The row of a template, or nullptr.
const PageEntry* FindPageEntry(int templateId);

// Creates the tool or configuration page of a template as a child of
// `parent`: the page class of that template where one exists, else a plain
// page of its template (nullptr for a page of parameters or records).
QWidget* CreatePage(int templateId, QWidget* parent, const PageServices& services);
// Creates a page of parameters or of records for the configuration page
// whose router is given (nullptr for a template of another kind).
QWidget* CreateSettingsPage(int templateId, QWidget* parent, PageRouter& router);

} // namespace pell::ui
