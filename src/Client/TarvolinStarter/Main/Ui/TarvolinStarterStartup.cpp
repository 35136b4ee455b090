#include "Client/TarvolinStarter/Main/Ui/TarvolinStarterStartup.h"

#include "Client/TarvolinStarter/Main/MainModule.h"
#include "Client/TarvolinStarter/Main/Ui/MainForm.h"

#include <QApplication>
#include <QSystemTrayIcon>

QString TTarvolinStarterStartup::GetTitle() const {
    return QCoreApplication::translate("TTarvolinStarterStartup", "Tarvolin - Indítópult");
}

QString TTarvolinStarterStartup::GetStartupCaption() const {
    return QCoreApplication::translate("TTarvolinStarterStartup",
                                       "Az Tarvolin indítópult elindul...");
}

TComponentClassRef TTarvolinStarterStartup::GetMainModuleClass() const {
    return MakeComponentClassRef<TMainModule>(QStringLiteral("TMainModule"), MainModule);
}

TComponentClassRef TTarvolinStarterStartup::GetMainFormClass() const {
    return MakeComponentClassRef<TMainForm>(QStringLiteral("TMainForm"), MainForm);
}

TEnvironments* TTarvolinStarterStartup::GetEnvironments() const {
    return MainModule ? MainModule->Environments : nullptr;
}

TSessions* TTarvolinStarterStartup::GetSessions() const {
    return MainModule ? MainModule->Sessions : nullptr;
}

void TTarvolinStarterStartup::Run() {
    bool minimised = false;
    if (MainModule && MainModule->AutoStartTarvolin()) {
        MainModule->ActionStartTarvolin->trigger();
        // Logged in: the starter lives in the notification area only.
        minimised = MainModule->Connected();
    }
    if (MainForm && !minimised)
        MainForm->show();
    if (MainForm && QSystemTrayIcon::isSystemTrayAvailable())
        MainForm->TrayIcon()->show();
    TStdClientStartup::Run();
}

void TTarvolinStarterStartup::Finalize() {
    if (MainModule)
        MainModule->Disconnect();
    TStdClientStartup::Finalize();
}
