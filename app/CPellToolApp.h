#pragma once
#include <QApplication>

namespace pell::ui {

// The application: runs the main window modally; closing it ends the process.
class CPellToolApp : public QApplication {
public:
    CPellToolApp(int& argc, char** argv);
    int InitInstance();
};

} // namespace pell::ui
