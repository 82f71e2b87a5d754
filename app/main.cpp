#include "app/CPellToolApp.h"

int main(int argc, char** argv)
{
    pell::ui::CPellToolApp app(argc, argv);
    return app.InitInstance();
}
