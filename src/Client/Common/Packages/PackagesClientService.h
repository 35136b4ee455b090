#pragma once

// Binds the package catalogue to the application server's package proxy.

#include "Client/Common/DataSnap/DSClientProxy.h"
#include "Common/Packages/PackageDeployer.h"

#include <QPointer>

// The server's package catalogue as the synchronisation asks for it, through
// the "TPackagesServer" proxy. A destroyed proxy counts as a closed connection.
class TPackagesClientService : public TPackagesService {
public:
    explicit TPackagesClientService(TPackagesClient* client, QObject* owner = nullptr);

    TPackagesClient* Client() const { return FClient.data(); }

    bool IsOpen() const override;
    void Load() override;
    QString GetPackageVersion(const QString& name) override;
    QString GetPackageDescription(const QString& name, const QString& version) override;
    QString GetFileNames(const QString& name, const QString& version) override;
    QString GetFileDescription(const QString& name, const QString& version,
                               const QString& fileName) override;
    QString GetFileMD5Hash(const QString& name, const QString& version,
                           const QString& fileName) override;
    QString GetFileFolderName(const QString& name, const QString& version,
                              const QString& fileName) override;
    void DownLoadFile(const QString& name, const QString& version, const QString& fileName,
                      QIODevice& dest) override;

private:
    TPackagesClient& Bound() const;
    QPointer<TPackagesClient> FClient;
};

// Sets the manager's client to the proxy (null: none); the adapter belongs to the manager.
void SetPackagesClient(TRemotePackageManager& manager, TPackagesClient* client);
