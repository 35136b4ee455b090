#include "Client/Common/Packages/PackagesClientService.h"

TPackagesClientService::TPackagesClientService(TPackagesClient* client, QObject* owner)
    : FClient(client) {
    setParent(owner);
}

TPackagesClient& TPackagesClientService::Bound() const {
    TV_ASSERT(FClient != nullptr);
    return *FClient;
}

bool TPackagesClientService::IsOpen() const {
    return FClient != nullptr && FClient->IsOpen();
}

void TPackagesClientService::Load() {
    Bound().Load();
}

QString TPackagesClientService::GetPackageVersion(const QString& name) {
    return Bound().GetPackageVersion(name);
}

QString TPackagesClientService::GetPackageDescription(const QString& name, const QString& version) {
    return Bound().GetPackageDescription(name, version);
}

QString TPackagesClientService::GetFileNames(const QString& name, const QString& version) {
    return Bound().GetFileNames(name, version);
}

QString TPackagesClientService::GetFileDescription(const QString& name, const QString& version,
                                                   const QString& fileName) {
    return Bound().GetFileDescription(name, version, fileName);
}

QString TPackagesClientService::GetFileMD5Hash(const QString& name, const QString& version,
                                               const QString& fileName) {
    return Bound().GetFileMD5Hash(name, version, fileName);
}

QString TPackagesClientService::GetFileFolderName(const QString& name, const QString& version,
                                                  const QString& fileName) {
    return Bound().GetFileFolderName(name, version, fileName);
}

void TPackagesClientService::DownLoadFile(const QString& name, const QString& version,
                                          const QString& fileName, QIODevice& dest) {
    Bound().DownLoadFile(name, version, fileName, &dest);
}

void SetPackagesClient(TRemotePackageManager& manager, TPackagesClient* client) {
    TPackagesService* previous = manager.Client();
    if (auto* adapter = dynamic_cast<TPackagesClientService*>(previous))
        if (client != nullptr && adapter->Client() == client)
            return;
    manager.SetClient(client != nullptr ? new TPackagesClientService(client, &manager) : nullptr);
    if (previous != nullptr && previous->parent() == &manager)
        delete previous;
}
