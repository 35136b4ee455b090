#pragma once

// The starter's main module: its actions, settings and repositories. It is
// created first among the start-up tasks and lives until the tear-down.

#include "Client/Common/Main/MainDataModuleBase.h"

#include <QAction>
#include <memory>

class TMainModule : public TMainDataModuleBase {
    Q_OBJECT
public:
    explicit TMainModule(QObject* owner = nullptr);
    ~TMainModule() override;

    bool AutoStartTarvolin() const { return FAutoStartTarvolin; }
    void SetAutoStartTarvolin(bool value);
    bool ShowExitedProcesses() const { return FShowExitedProcesses; }
    void SetShowExitedProcesses(bool value);
    bool ExitAfterLastProcessExit() const { return FExitAfterLastProcessExit; }
    void SetExitAfterLastProcessExit(bool value);

    void SetDefaults() override;

    QAction* ActionStartTarvolin;
    QAction* ActionShowMain;
    QAction* ActionExit;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

signals:
    void SettingsChanged();

private:
    void ChangeSetting(bool& field, bool value);

    bool FAutoStartTarvolin = true;
    bool FShowExitedProcesses = true;
    bool FExitAfterLastProcessExit = true;
};

extern std::unique_ptr<TMainModule> MainModule;
