#pragma once

// The non-visual heart of a client program: the repositories, the three
// server connections, the user's rights and the whole connection lifecycle
// (login with three attempts, the connect task list, orderly disconnects with
// a message that tells why, the application-wide exception handler, the reset
// actions and the module's own settings file).

#include "Common/Repository/PersistMeta.h"
#include "Common/Util/BooleanLock.h"
#include "Common/Util/Tasks.h"

#include <QAction>
#include <QList>
#include <QObject>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>

class TClientPackageManager;
class TDataSnapClientModule;
class TEnvironment;
class TEnvironments;
class TOraClientModule;
class TRights;
class TSSHClientModule;
class TSession;
class TSessions;

// Asks the user for the login: the login dialog in the program, a script in
// tests. OK: the variables receive the entry and the answer is true.
class ILoginPrompt {
public:
    virtual ~ILoginPrompt() = default;
    virtual bool Login(QString& userName, QString& password, const QList<TSession*>& sessions,
                       const QList<TEnvironment*>& environments, QString& envName) = 0;
};

// A task list whose tasks report sub-progress nowhere (no progress window).
class TQuietConnectTasks : public TTasks, public ISubProgress {
public:
    void ResetSubProgress() override {}
    void DoSubProgress(const QString&, int, int, int) override {}
};

class TMainDataModuleBase : public QObject, public TPersistent {
    Q_OBJECT

public:
    // Number of login attempts before the program gives up.
    static constexpr int LoginAttempts = 3;

    explicit TMainDataModuleBase(QObject* owner = nullptr);
    // Runs a full disconnect first.
    ~TMainDataModuleBase() override;

    // The design is complete: reads the settings. Subclass constructors call
    // it as their last step.
    virtual void Loaded();

    QAction* ActionHelp;
    QAction* ActionConnect;
    QAction* ActionDisconnect;
    QAction* ActionResetEnvironments;
    QAction* ActionResetSessions;
    QAction* ActionResetPackages;
    QAction* ActionResetSelf;

    // The repositories (components of the module).
    TEnvironments* Environments;
    TSessions* Sessions;
    TClientPackageManager* PackageManager;

    TDataSnapClientModule* DataSnapModule() const { return FDataSnapClientModule; }
    TSSHClientModule* SSHModule() const { return FSSHClientModule; }
    TOraClientModule* OraModule() const { return FOraClientModule; }
    TRights& Rights() const { return *FRights; }
    bool IsDisconnecting() const { return FDisconnecting.Locked(); }
    // The connect task list while Connect runs, else null.
    TTasks* StartupTasks() const { return FStartupTasks.get(); }

    // True when the SSH, application-server and database modules all are.
    virtual bool Connected() const;
    virtual void ShowDisconnectReason();
    virtual void AfterDisconnect() {}
    // After-disconnect handler of the three connections; may run on a
    // library thread: only sets the flag and defers the disconnect to the
    // main thread.
    virtual void PassiveDisconnect(QObject* sender);
    virtual QString GetSettingsFileName() const;
    virtual void UpdateCompressionPackage();
    virtual void UpdateOracleClient();
    virtual void UpdateSelf() {}
    virtual void InitializeClient();
    virtual void AddUpdateTasks(TTasks& tasks);
    virtual void AddConnectTasks(TTasks& tasks);
    virtual bool GetLoginData(QString& userName, QString& password, bool forceReLoading,
                              QString& envName);
    virtual void SaveSettings();
    virtual void LoadSettings();
    virtual void ResetSettings();
    virtual void SetDefaults() {}
    virtual bool Connect(bool forceReLoading);
    virtual void Disconnect();

    void LoadVisibleViews();
    void LoadRights();

    void Load();
    void Save();
    void Reset() { ResetSettings(); }
    bool ConnectWithRetry(bool forceReLoading);

    // The application-wide handler of an exception that reached the event
    // loop unhandled.
    void HandleException(std::exception_ptr error);
    // Routes the exception being handled (inside a catch block) to the live
    // module's handler, or shows it when there is no module.
    static void HandleCurrentException();
    // True for the failures that mean the server link is gone.
    static bool IsNetworkError(const std::exception& error);

    // The login dialog; none installed: every login is cancelled.
    static ILoginPrompt* SetLoginPrompt(ILoginPrompt* prompt);
    // Creates the connect task list with its caption; by default a quiet one.
    using TConnectTasksFactory = std::function<std::unique_ptr<TTasks>(const QString& caption)>;
    static void SetConnectTasksFactory(TConnectTasksFactory factory);

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    // Ends the application (after a third failed login reached the handler).
    virtual void TerminateApplication();
    // The reset actions: a question, then the reset on Yes.
    void ResetEnvironmentsExecute();
    void ResetSessionsExecute();
    void ResetPackagesExecute();
    void ResetSelfExecute();
    void UpdateActions();
    TEnvironment* SessionEnvironment() const;
    ISubProgress* SubProgressOf(TTasks& tasks);

    TBooleanLock FLoading;
    TBooleanLock FDisconnecting;
    TDataSnapClientModule* FDataSnapClientModule;
    TSSHClientModule* FSSHClientModule;
    TOraClientModule* FOraClientModule;
    std::unique_ptr<TTasks> FStartupTasks;
    std::exception_ptr FDisconnectError;
    std::atomic<bool> FPassiveDisconnected{false};
    std::unique_ptr<TRights> FRights;

private:
    void DeferredPassiveDisconnect();
    void ConnectWithRetryExecute();
};
