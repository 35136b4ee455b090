#include "Client/Common/DataSnap/DataSnapClientModule.h"

#include "Common/Error/CustomException.h"

TDataSnapClientModule::TDataSnapClientModule(QObject* owner)
    : TClientModule(owner), FSrvConn(std::make_unique<TDSConnection>()),
      FDocumentClient(new TDocumentClient(this)), FSessionInfoClient(new TSessionInfoClient(this)),
      FServerInfoClient(new TServerInfoClient(this)), FPackagesClient(new TPackagesClient(this)),
      FErrorRiportClient(new TErrorRiportClient(this)) {
    FSrvConn->HostName = QStringLiteral("localhost");
    FSrvConn->Port = 212;
}

TDataSnapClientModule::~TDataSnapClientModule() {
    Destroying();
}

bool TDataSnapClientModule::Connected() const {
    return FSrvConn->Connected();
}

void TDataSnapClientModule::DoConnect(const QString& user, const QString& password,
                                      const TEnvironment& env) {
    QString address = env.UseSSHTunnels() ? QStringLiteral("localhost") : env.DataSnapAddress();
    uint16_t port = env.DataSnapPort();
    if (OnGetDataSnapAddress)
        OnGetDataSnapAddress(address, port);
    FSrvConn->HostName = address;
    FSrvConn->Port = port;
    FSrvConn->User = user;
    FSrvConn->Password = password;
    FSrvConn->Open();
    FDocumentClient->SetConnection(FSrvConn.get());
    FSessionInfoClient->SetConnection(FSrvConn.get());
    FServerInfoClient->SetConnection(FSrvConn.get());
    FPackagesClient->SetConnection(FSrvConn.get());
    FErrorRiportClient->SetConnection(FSrvConn.get());
}

void TDataSnapClientModule::DoDisconnect() {
    // Network errors are of no interest here, any other is shown.
    try {
        FDocumentClient->SetConnection(nullptr);
        FSessionInfoClient->SetConnection(nullptr);
        FServerInfoClient->SetConnection(nullptr);
        FPackagesClient->SetConnection(nullptr);
        FErrorRiportClient->SetConnection(nullptr);
        FSrvConn->Close();
    } catch (const EDSSocketError&) {
    } catch (const EDSConnClosedGracefully&) {
    } catch (...) {
        ShowCurrentException(QStringLiteral("Hiba történt"));
    }
}

void TDataSnapClientModule::LoadServerClients() {
    if (!Connected())
        return;
    FServerClients.LoadFrom(FServerInfoClient->GetClients());
}

TDataSnapConnectTask::TDataSnapConnectTask(TDataSnapClientModule* module, const QString& userName,
                                           const QString& password, const TEnvironment* env)
    : TModuleConnectTask(module, QStringLiteral("Csatlakozás az alkalmazás szerverre..."), userName,
                         password, env) {}
