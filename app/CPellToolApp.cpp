#include "app/CPellToolApp.h"

#include "app/CPellToolDlg.h"

namespace pell::ui {

CPellToolApp::CPellToolApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Halden TOOL"));
    setQuitOnLastWindowClosed(false);
}

int CPellToolApp::InitInstance()
{
    CPellToolDlg dlg;
    dlg.OnInitDialog();
    dlg.exec();
    return 0;
}

} // namespace pell::ui
