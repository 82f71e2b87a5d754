#pragma once
#include <QApplication>

namespace pell::ui {

// The application: runs the main window modally; closing it ends the process.
// SIGINT and SIGTERM close the window the same way, so every thread is
// stopped and joined and the process exits with status 0.
class CPellToolApp : public QApplication {
public:
    CPellToolApp(int& argc, char** argv);
    ~CPellToolApp() override;
    int InitInstance();

private:
    void watchTerminationSignals();
};

} // namespace pell::ui
