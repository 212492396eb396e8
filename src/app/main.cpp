// The program's entry: its options, the application object and its identity, one program per
// user, the main window, the event loop.

#include "app/Application.h"
#include "app/ChineseTexts.h"
#include "app/CommandLine.h"
#include "app/F_frmMain.h"
#include "app/SingleInstance.h"
#include "platform/Drives.h"
#include "platform/Files.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>

namespace {

// A program still starting (its web panel's start page check takes seconds) answers late.
constexpr std::chrono::seconds kRaiseAnswerBound{30};

void BringToFront(QWidget& window) {
    window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window.show();
    window.raise();
    window.activateWindow();
}

// The lock of one program per user, or null when it cannot be had for a reason other than a
// running program (the program then runs unguarded rather than not at all, and says why).
std::unique_ptr<vornel::app::SingleInstance> TakeSingleInstance(bool& anotherRuns) {
    anotherRuns = false;
    std::unique_ptr<vornel::app::SingleInstance> instance;
    try {
        instance = std::make_unique<vornel::app::SingleInstance>(
            QString::fromStdString(vornel::platform::TempPath()));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vornel: %s\n", error.what());
        return nullptr;
    }
    const bool primary = instance->BecomePrimary();
    if (!instance->ErrorText().isEmpty())
        std::fprintf(stderr, "vornel: %s\n", qPrintable(instance->ErrorText()));
    if (primary)
        return instance;
    if (instance->ErrorText().isEmpty()) {
        anotherRuns = true;
        return instance;
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    switch (vornel::app::ReadCommandLine(argc, argv)) {
    case vornel::app::CommandLineRequest::Help:
        std::fputs(vornel::app::HelpText().c_str(), stdout);
        return 0;
    case vornel::app::CommandLineRequest::Version:
        std::fputs(vornel::app::VersionText().c_str(), stdout);
        return 0;
    case vornel::app::CommandLineRequest::Run:
        break;
    }

    vornel::app::PrepareChineseWebEngine();
    // The web panel's engine shares its graphics contexts; this must precede the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    vornel::app::ConfigureApplication();

    bool anotherRuns = false;
    const auto instance = TakeSingleInstance(anotherRuns);
    if (anotherRuns) {
        if (instance->AskPrimaryToRaise(kRaiseAnswerBound))
            return 0;
        std::fputs("vornel: 另一个VornelU盘装机正在运行，但没有应答\n", stderr);
        return 1;
    }

    vornel::app::AskForChinesePages();
    const auto drives = vornel::platform::CreateLinuxDriveQueries(vornel::platform::SystemDriveSources());
    vornel::app::TfrmMain frmMain(vornel::app::ProgramSetup(*drives));
    if (instance)
        QObject::connect(instance.get(), &vornel::app::SingleInstance::raiseRequested, &frmMain,
                         [&frmMain] { BringToFront(frmMain); });
    frmMain.show();
    return QApplication::exec();
}
