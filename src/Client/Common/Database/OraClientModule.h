#pragma once

// The database session of the logged-in user; all SQL goes through its SQL
// helper.

#include "Client/Common/Main/ClientModule.h"
#include "Common/DB/SqlHelper.h"
#include "Platform/Db/OraDriver.h"

#include <functional>
#include <memory>

class TOraClientModule : public TClientModule {
    Q_OBJECT

public:
    // Lets the owner change the address and port just before connecting.
    using TGetOracleAddressEvent = std::function<void(QString& address, uint16_t& port)>;

    explicit TOraClientModule(QObject* owner = nullptr);
    ~TOraClientModule() override;

    bool Connected() const override;
    TOraSession& OraClient() { return *FOraClient; }
    TSqlHelper& SqlHelper() { return *FSqlHelper; }
    TGetOracleAddressEvent OnGetOracleAddress;

    // Prepares the process for the database client installed in the folder:
    // the client library is taken from there, NLS_LANG is set, ORACLE_HOME
    // removed and the folder made the only client folder in PATH.
    void SetupOracleEnvironments(const QString& installPath);
    // Unloads the database client library once no session uses it, and takes
    // the client folder out of PATH again.
    static void ReleaseOracleClient();

protected:
    void DoDisconnect() override;
    void DoConnect(const QString& user, const QString& password, const TEnvironment& env) override;

private:
    std::unique_ptr<TOraSession> FOraClient;
    std::unique_ptr<TSqlHelper> FSqlHelper;
};

class TOraConnectTask : public TModuleConnectTask {
public:
    TOraConnectTask(TOraClientModule* module, const QString& userName, const QString& password,
                    const TEnvironment* env);
};
