#include "Client/TarvolinStarter/Main/MainModule.h"

#include <QCoreApplication>

std::unique_ptr<TMainModule> MainModule;

TMainModule::TMainModule(QObject* owner) : TMainDataModuleBase(owner) {
    // Actions take their images from the shared big image list (by index).
    auto action = [this](const char* name, const char* caption, int image = -1) {
        auto* a = new QAction(QCoreApplication::translate("TMainModule", caption), this);
        a->setObjectName(QLatin1String(name));
        a->setProperty("ImageIndex", image);
        return a;
    };
    ActionStartTarvolin = action("ActionStartTarvolin", "Új Tarvolin kliens indítása", 14);
    ActionShowMain = action("ActionShowMain", "Indítópult mutatása");
    ActionExit = action("ExitMenu", "Kilépés");
    // Starting a client needs a login first.
    connect(ActionStartTarvolin, &QAction::triggered, this, [this] {
        if (!Connected())
            ActionConnect->trigger();
    });
    connect(ActionExit, &QAction::triggered, this, [] { QCoreApplication::quit(); });
    Loaded();
}

TMainModule::~TMainModule() {
    try {
        Disconnect();
    } catch (...) {
        // Disconnect shows its own failures; nothing may escape a destructor.
    }
}

const TPersistClass& TMainModule::StaticClass() {
    using S = TMainModule;
    static const TPersistClass& cls =
        TClassBuilder<S>(QStringLiteral("TMainModule"), &TMainDataModuleBase::StaticClass())
            .Mark(PersistVersion{QStringLiteral("1.0")})
            .Property(QStringLiteral("AutoStartTarvolin"), &S::AutoStartTarvolin,
                      &S::SetAutoStartTarvolin, PersistMember{})
            .Property(QStringLiteral("ShowExitedProcesses"), &S::ShowExitedProcesses,
                      &S::SetShowExitedProcesses, PersistMember{})
            .Property(QStringLiteral("ExitAfterLastProcessExit"), &S::ExitAfterLastProcessExit,
                      &S::SetExitAfterLastProcessExit, PersistMember{})
            .Register();
    return cls;
}

void TMainModule::SetDefaults() {
    TMainDataModuleBase::SetDefaults();
    SetAutoStartTarvolin(true);
    SetShowExitedProcesses(true);
    SetExitAfterLastProcessExit(true);
}

// A changed setting is saved at once (not while the file is being read).
void TMainModule::ChangeSetting(bool& field, bool value) {
    if (field == value)
        return;
    field = value;
    Save();
    emit SettingsChanged();
}

void TMainModule::SetAutoStartTarvolin(bool value) {
    ChangeSetting(FAutoStartTarvolin, value);
}

void TMainModule::SetShowExitedProcesses(bool value) {
    ChangeSetting(FShowExitedProcesses, value);
}

void TMainModule::SetExitAfterLastProcessExit(bool value) {
    ChangeSetting(FExitAfterLastProcessExit, value);
}
