#pragma once

// The SSH connection to the environment's gateway: password login with the
// user's database credentials, the built-in host key as the only trusted
// one, the session identity, and the two forwarded channels to the database
// and the application server.

#include "Client/Common/Main/ClientModule.h"
#include "Common/SSH/SSHUtils.h"
#include "Platform/SSH/SshClient.h"

#include <memory>

// A local port forwarded through the SSH connection.
class TSshForwardChannel {
public:
    explicit TSshForwardChannel(TSshClient& client) : FClient(client) {}
    // 0: a port the system chooses.
    void SetSourcePort(uint16_t port) { FSourcePort = port; }
    uint16_t SourcePort() const { return FSourcePort; }
    void SetDestHost(const QString& host) { FDestHost = host; }
    const QString& DestHost() const { return FDestHost; }
    void SetDestPort(uint16_t port) { FDestPort = port; }
    uint16_t DestPort() const { return FDestPort; }
    // Starts listening locally.
    void Connect();
    void Disconnect();
    bool Connected() const;
    // The port listened on while connected, otherwise 0.
    uint16_t ListenPort() const { return Connected() ? FListenPort : 0; }

private:
    TSshClient& FClient;
    uint16_t FSourcePort = 0;
    QString FDestHost;
    uint16_t FDestPort = 0;
    uint16_t FListenPort = 0;
};

class TSSHClientModule : public TClientModule {
    Q_OBJECT

public:
    static constexpr const char* TrustedKeyName = "TarvolinService";

    explicit TSSHClientModule(QObject* owner = nullptr);
    ~TSSHClientModule() override;

    bool Connected() const override;
    bool UseSSHTunnels() const { return FUseSSHTunnels; }
    const QString& SessionId() const { return FSessionId; }
    bool FixedOracleTunnelPort = false;
    bool FixedDataSnapTunnelPort = false;
    uint16_t OracleTunnelPort() const;
    uint16_t DataSnapTunnelPort() const;

    TVirtualStorage& VirtualStorage() { return FVirtualStorage; }
    TSshClient& SSHClient() { return *FSSHClient; }
    TSshForwardChannel& SSHOraChannel() { return *FSSHOraChannel; }
    TSshForwardChannel& SSHDataSnapChannel() { return *FSSHDataSnapChannel; }

    // Host-key check: accepts exactly the trusted key.
    void SSHClientServerKeyValidate(const QByteArray& newServerKey, bool& accept);

protected:
    void DoDisconnect() override;
    void DoConnect(const QString& user, const QString& password, const TEnvironment& env) override;

private:
    QString RequestSessionId(uint16_t sshPort);

    TVirtualStorage FVirtualStorage;
    std::unique_ptr<TSshClient> FSSHClient;
    std::unique_ptr<TSshForwardChannel> FSSHOraChannel;
    std::unique_ptr<TSshForwardChannel> FSSHDataSnapChannel;
    bool FUseSSHTunnels = false;
    QString FSessionId;
};

class TSSHConnectTask : public TModuleConnectTask {
public:
    TSSHConnectTask(TSSHClientModule* module, const QString& userName, const QString& password,
                    const TEnvironment* env);
};
