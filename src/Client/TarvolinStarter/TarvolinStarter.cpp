// The Tarvolin Starter's program file.

#include "Client/TarvolinStarter/Main/MainModule.h"
#include "Client/TarvolinStarter/Main/Ui/MainForm.h"
#include "Client/TarvolinStarter/Main/Ui/TarvolinStarterStartup.h"
#include "Client/TarvolinStarter/Packages/TarvolinStarterSelfUpdater.h"
#include "Common/Config/Config.h"
#include "Common/Debug/Debugger.h"
#include "Common/Error/CustomException.h"
#include "Common/Error/Ui/ErrorPresenter.h"
#include "Common/Files/Ui/GUIFileStream.h"
#include "Common/Images/Ui/ImagesModule.h"
#include "Common/Session/DefaultPrompt.h"
#include "Common/Session/Ui/PasswordForms.h"
#include "Common/Util/Ui/MessageBoxDialogs.h"
#include "Platform/Runtime/TerminationSignals.h"

#include "Client/Common/Main/Ui/Application.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

namespace {
// When the process ends through exit() while windows still exist (the
// display connection broke), the application object is gone before the
// process-wide references would be destroyed; freeing windows then would
// crash. They are left to the end of the process instead.
void ForgetWindowsAtExit() {
    (void)MainForm.release();
    (void)ImagesModule.release();
    (void)MainModule.release();
}
} // namespace

int main(int argc, char** argv) {
    std::atexit(ForgetWindowsAtExit);
    TApplication app(argc, argv);
    // The single-instance identity; also the starter's package name.
    QApplication::setApplicationName(QStringLiteral("TarvolinStarter"));

    TTerminationSignals terminationSignals;
    TMessageBoxPresenter presenter;
    SetExceptionPresenter(&presenter);
    TPasswordDialogs passwordDialogs;
    SetDefaultPasswordPrompt(&passwordDialogs);
    TMessageBoxDialogs messageDialogs;
    SetMessageDialogs(&messageDialogs);
    struct PresenterGuard {
        ~PresenterGuard() {
            SetMessageDialogs(nullptr);
            SetDefaultPasswordPrompt(nullptr);
            SetExceptionPresenter(nullptr);
        }
    } presenterGuard;

    // The configuration and the folders are read before anything else; a
    // configuration file that cannot be read stops the start.
    try {
        Config();
        PathHelper();
    } catch (const std::exception& e) {
        ShowException(e);
        return 1;
    }

    // File transfers show their progress windows.
    InstallGUIFileStreams();
    // The one debugger lives until the end of the process; destroying it ends
    // any program still supervised.
    Debugger();
    struct DebuggerGuard {
        ~DebuggerGuard() { DestroyDebugger(); }
    } debuggerGuard;

    TTarvolinStarterSelfUpdater updater;
    if (!updater.CanRunApplication())
        return 0;
    TTarvolinStarterStartup startup;
    startup.RunApplication();
    return 0;
}
