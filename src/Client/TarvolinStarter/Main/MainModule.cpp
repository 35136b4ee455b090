#include "Client/TarvolinStarter/Main/MainModule.h"

#include "Common/Environments/Environments.h"
#include "Common/Session/DefaultPrompt.h"
#include "Common/Session/Sessions.h"

#include <QCoreApplication>

std::unique_ptr<TMainModule> MainModule;

TMainModule::TMainModule(QObject* owner) : QObject(owner) {
    setObjectName(QStringLiteral("MainModule"));
    Environments = TItem::Create<TEnvironments>(this);
    Environments->setObjectName(QStringLiteral("Environments"));
    Sessions = TItem::Create<TSessions>(this);
    Sessions->setObjectName(QStringLiteral("Sessions"));
    Sessions->SetPrompt(DefaultPasswordPrompt());
    // Actions take their images from the shared big image list (by index).
    auto action = [this](const char* name, const char* caption, int image = -1) {
        auto* a = new QAction(QCoreApplication::translate("TMainModule", caption), this);
        a->setObjectName(QLatin1String(name));
        a->setProperty("ImageIndex", image);
        return a;
    };
    ActionConnect = action("ActionConnect", "Bejelentkezés", 15);
    ActionDisconnect = action("ActionDisconnect", "Kijelentkezés", 16);
    ActionDisconnect->setEnabled(false);
    ActionStartTarvolin = action("ActionStartTarvolin", "Új Tarvolin kliens indítása", 14);
    ActionShowMain = action("ActionShowMain", "Indítópult mutatása");
    ActionExit = action("ExitMenu", "Kilépés");
    connect(ActionDisconnect, &QAction::triggered, this, [this] { Disconnect(); });
    connect(ActionExit, &QAction::triggered, this, [] { QCoreApplication::quit(); });
}

TMainModule::~TMainModule() {
    Disconnect();
}

void TMainModule::SetAutoStartTarvolin(bool value) {
    if (FAutoStartTarvolin != value) {
        FAutoStartTarvolin = value;
        emit SettingsChanged();
    }
}

void TMainModule::SetShowExitedProcesses(bool value) {
    if (FShowExitedProcesses != value) {
        FShowExitedProcesses = value;
        emit SettingsChanged();
    }
}

void TMainModule::SetExitAfterLastProcessExit(bool value) {
    if (FExitAfterLastProcessExit != value) {
        FExitAfterLastProcessExit = value;
        emit SettingsChanged();
    }
}

void TMainModule::Disconnect() {
    if (!FConnected)
        return;
    FConnected = false;
    ActionConnect->setEnabled(true);
    ActionDisconnect->setEnabled(false);
}
