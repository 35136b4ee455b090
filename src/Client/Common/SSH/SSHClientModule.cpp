#include "Client/Common/SSH/SSHClientModule.h"

#include "Common/Error/CustomException.h"

void TSshForwardChannel::Connect() {
    FListenPort = FClient.OpenForward(FSourcePort, FDestHost, FDestPort);
}

void TSshForwardChannel::Disconnect() {
    if (FListenPort != 0)
        FClient.CloseForward(FListenPort);
    FListenPort = 0;
}

bool TSshForwardChannel::Connected() const {
    return FListenPort != 0 && FClient.Connected() && FClient.IsForwarding(FListenPort);
}

TSSHClientModule::TSSHClientModule(QObject* owner)
    : TClientModule(owner), FSSHClient(std::make_unique<TSshClient>()),
      FSSHOraChannel(std::make_unique<TSshForwardChannel>(*FSSHClient)),
      FSSHDataSnapChannel(std::make_unique<TSshForwardChannel>(*FSSHClient)) {
    FSSHClient->SetTimeout(60);
    FSSHClient->SetKeepAliveInterval(60);
    FSSHClient->SetChannelTimeout(15);
    FSSHClient->OnServerKeyValidate = [this](const QByteArray& key) {
        bool accept = false;
        SSHClientServerKeyValidate(key, accept);
        return accept;
    };
}

TSSHClientModule::~TSSHClientModule() {
    Destroying();
}

void TSSHClientModule::SSHClientServerKeyValidate(const QByteArray& newServerKey, bool& accept) {
    const QString name = QString::fromLatin1(TrustedKeyName);
    TSshKey* key = FVirtualStorage.FindKey(name);
    if (key == nullptr) {
        key = FVirtualStorage.AddKey(name);
        try {
            TSSHUtils::LoadKeyFromResource(key);
        } catch (...) {
            FVirtualStorage.Clear();
            throw;
        }
    }
    accept = key->Equals(newServerKey);
}

bool TSSHClientModule::Connected() const {
    return FSSHClient->Connected() &&
           (!FUseSSHTunnels || (FSSHOraChannel->Connected() && FSSHDataSnapChannel->Connected()));
}

uint16_t TSSHClientModule::OracleTunnelPort() const {
    return FUseSSHTunnels ? FSSHOraChannel->ListenPort() : 0;
}

uint16_t TSSHClientModule::DataSnapTunnelPort() const {
    return FUseSSHTunnels ? FSSHDataSnapChannel->ListenPort() : 0;
}

QString TSSHClientModule::RequestSessionId(uint16_t sshPort) {
    const QString request = QStringLiteral("RequestSessionId");
    const QByteArray bytes(reinterpret_cast<const char*>(request.utf16()), request.size() * 2);
    const QByteArray answer =
        FSSHClient->Exchange(QStringLiteral("localhost"), sshPort, bytes, 76, 15000);
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(answer.constData()),
                              answer.size() / 2);
}

void TSSHClientModule::DoConnect(const QString& user, const QString& password,
                                 const TEnvironment& env) {
    FSSHClient->SetUser(user);
    FSSHClient->SetPassword(password);
    FSSHClient->SetHost(env.SSHAddress());
    FSSHClient->SetPort(env.SSHPort());
    try {
        FSSHClient->Connect();
    } catch (const ESshError& e) {
        if (e.Message() == TSshClient::AuthFailedText)
            throw EAuthFailed(QStringLiteral("A bejelentkezés sikertelen."), e.Message());
        throw;
    }
    FSessionId = RequestSessionId(env.SSHPort());
    FUseSSHTunnels = env.UseSSHTunnels();
    if (!FUseSSHTunnels)
        return;
    FSSHOraChannel->SetSourcePort(FixedOracleTunnelPort ? env.DBPort() : 0);
    FSSHOraChannel->SetDestPort(env.DBPort());
    FSSHOraChannel->SetDestHost(env.DBAddress());
    FSSHOraChannel->Connect();
    FSSHDataSnapChannel->SetSourcePort(FixedDataSnapTunnelPort ? env.DataSnapPort() : 0);
    FSSHDataSnapChannel->SetDestPort(env.DataSnapPort());
    FSSHDataSnapChannel->SetDestHost(env.DataSnapAddress());
    FSSHDataSnapChannel->Connect();
}

void TSSHClientModule::DoDisconnect() {
    // Every step runs; errors of the SSH library are of no interest here,
    // any other is shown.
    auto step = [](const std::function<void()>& work) {
        try {
            work();
        } catch (const ESshError&) {
        } catch (...) {
            ShowCurrentException(QStringLiteral("Hiba történt"));
        }
    };
    step([this] { FSSHOraChannel->Disconnect(); });
    step([this] { FSSHDataSnapChannel->Disconnect(); });
    step([this] { FSSHClient->Disconnect(); });
}

TSSHConnectTask::TSSHConnectTask(TSSHClientModule* module, const QString& userName,
                                 const QString& password, const TEnvironment* env)
    : TModuleConnectTask(module, QStringLiteral("Biztonságos kapcsolat kiépítése."), userName,
                         password, env) {}
