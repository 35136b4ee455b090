#pragma once

// The starter's main module: its actions, settings and repositories. It is
// created first among the start-up tasks and lives until the tear-down.

#include <QAction>
#include <QObject>
#include <memory>

class TEnvironments;
class TSessions;

class TMainModule : public QObject {
    Q_OBJECT
public:
    explicit TMainModule(QObject* owner = nullptr);
    ~TMainModule() override;

    // Login state: true while the server connections are up.
    bool Connected() const { return FConnected; }

    bool AutoStartTarvolin() const { return FAutoStartTarvolin; }
    void SetAutoStartTarvolin(bool value);
    bool ShowExitedProcesses() const { return FShowExitedProcesses; }
    void SetShowExitedProcesses(bool value);
    bool ExitAfterLastProcessExit() const { return FExitAfterLastProcessExit; }
    void SetExitAfterLastProcessExit(bool value);

    // Ends the login; safe to call when not connected.
    void Disconnect();

    // The repositories (components of the module).
    TEnvironments* Environments;
    TSessions* Sessions;

    QAction* ActionConnect;
    QAction* ActionDisconnect;
    QAction* ActionStartTarvolin;
    QAction* ActionShowMain;
    QAction* ActionExit;

signals:
    void SettingsChanged();

private:
    bool FConnected = false;
    bool FAutoStartTarvolin = true;
    bool FShowExitedProcesses = true;
    bool FExitAfterLastProcessExit = true;
};

extern std::unique_ptr<TMainModule> MainModule;
