// The program's entry: the application object, its identity, the main window, the event loop.

#include "app/Application.h"
#include "app/F_frmMain.h"
#include "platform/Drives.h"

#include <QApplication>

int main(int argc, char** argv) {
    // The web panel's engine shares its graphics contexts; this must precede the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    vornel::app::ConfigureApplication();
    const auto drives = vornel::platform::CreateLinuxDriveQueries(vornel::platform::SystemDriveSources());
    vornel::app::TfrmMain frmMain(vornel::app::ProgramSetup(*drives));
    frmMain.show();
    return QApplication::exec();
}
