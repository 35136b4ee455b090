#pragma once

// The base of the connection modules: one connection each, with one connect
// and disconnect contract, and the task that runs a module's connect as a
// step of a start-up task list.

#include "Common/Environments/Environments.h"
#include "Common/Util/Tasks.h"

#include <QObject>
#include <functional>

class TClientModule : public QObject {
    Q_OBJECT

public:
    explicit TClientModule(QObject* owner = nullptr);
    ~TClientModule() override;

    // Opens the connection; the environment must be given. When the opening
    // raises, the module is disconnected and the error re-raised. Answers
    // Connected.
    bool Connect(const QString& user, const QString& password, const TEnvironment* env);
    // Closes the connection; an error that escapes is handed to the central
    // exception handling and goes no further.
    void Disconnect();
    virtual bool Connected() const = 0;

    // The application's central handling of an exception that nobody else
    // handles; called inside the catch block (default: ShowCurrentException).
    static void SetCentralExceptionHandler(std::function<void()> handler);
    static void HandleCurrentException();

protected:
    virtual void DoDisconnect() = 0;
    virtual void DoConnect(const QString& user, const QString& password,
                           const TEnvironment& env) = 0;
    // Every module's destructor calls it first: disconnects and checks that
    // the module then reports not connected.
    void Destroying();
};

class TConnectTask : public TTask {
public:
    // Caption, user name and password must not be empty; the environment
    // must be given.
    TConnectTask(const QString& caption, const QString& userName, const QString& password,
                 const TEnvironment* env);
    const QString& UserName() const { return FUserName; }
    const QString& Password() const { return FPassword; }
    const TEnvironment* Env() const { return FEnv; }

protected:
    QString FUserName;
    QString FPassword;
    const TEnvironment* FEnv;
};

// A connect task of a module: runs the module's Connect.
class TModuleConnectTask : public TConnectTask {
public:
    TModuleConnectTask(TClientModule* module, const QString& caption, const QString& userName,
                       const QString& password, const TEnvironment* env);
    TClientModule* Module() const { return FModule; }
    void Execute() override;

protected:
    TClientModule* FModule;
};
