#pragma once

// The application-server connection of the logged-in user and the proxies of
// the server's methods.

#include "Client/Common/DataSnap/DSClientProxy.h"
#include "Client/Common/Main/ClientModule.h"
#include "Common/Network/ServerClients.h"
#include "Platform/DataSnap/DSConnection.h"

#include <functional>
#include <memory>

class TDataSnapClientModule : public TClientModule {
    Q_OBJECT

public:
    // Lets the owner change the address and port just before connecting.
    using TGetDataSnapAddressEvent = std::function<void(QString& address, uint16_t& port)>;

    explicit TDataSnapClientModule(QObject* owner = nullptr);
    ~TDataSnapClientModule() override;

    bool Connected() const override;
    TDSConnection& SrvConn() { return *FSrvConn; }
    TClients& ServerClients() { return FServerClients; }
    TDocumentClient* DocumentClient() const { return FDocumentClient; }
    TSessionInfoClient* SessionInfoClient() const { return FSessionInfoClient; }
    TServerInfoClient* ServerInfoClient() const { return FServerInfoClient; }
    TPackagesClient* PackagesClient() const { return FPackagesClient; }
    TErrorRiportClient* ErrorRiportClient() const { return FErrorRiportClient; }

    TGetDataSnapAddressEvent OnGetDataSnapAddress;

    // When connected: asks the server for its clients and keeps them in ServerClients.
    void LoadServerClients();

protected:
    void DoDisconnect() override;
    void DoConnect(const QString& user, const QString& password, const TEnvironment& env) override;

private:
    std::unique_ptr<TDSConnection> FSrvConn;
    TClients FServerClients;
    // Owned as the module's children.
    TDocumentClient* FDocumentClient;
    TSessionInfoClient* FSessionInfoClient;
    TServerInfoClient* FServerInfoClient;
    TPackagesClient* FPackagesClient;
    TErrorRiportClient* FErrorRiportClient;
};

class TDataSnapConnectTask : public TModuleConnectTask {
public:
    TDataSnapConnectTask(TDataSnapClientModule* module, const QString& userName,
                         const QString& password, const TEnvironment* env);
};
