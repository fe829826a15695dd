// Program entry of the window program: one running copy only, the
// application title, the main window and its event loop. No command line is
// read; nothing is saved at exit.
#include "app/InstanceGuard.h"
#include "app/TApplication.h"
#include "ui/fw.h"

int main(int /*argc*/, char** argv) {
    const qrb::InstanceGuard guard;
    if (guard.anotherCopyRuns()) {
        return 0;  // silently: no window, no message
    }

    // Qt sees the program name only, so no option of the command line acts.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    qrb::TApplication application(qtArgc, qtArgv);

    qrb::TfrmMain frmMain;
    frmMain.show();
    return application.exec();
}
