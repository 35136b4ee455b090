#pragma once

// The catalogue with its behaviour, in three layers: deploying (install and
// remove a package's files through an installer), remote (a file's content
// comes from the application server's package catalogue) and client (the
// synchronisation decision, server-specific names, the persisted leaf
// classes of "Packages.xml").

#include "Common/Installer/Installer.h"
#include "Common/Packages/Packages.h"

#include <QPointer>

#include <functional>

class TEnvironment;
class TPackageDeployer;

// ---- deploying layer

class TPackageFileDeployer : public TPackageFile {
public:
    // The local disk is the file's store.
    void CreateFileFromStream(QIODevice& source) override;
    void SaveFileToStream(QIODevice& dest) override;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TPackageFileDeployer() = default;
};

class TPackageDeployer : public TPackage {
public:
    // Installs, resp. removes, every file of the package as one unit of work.
    virtual void Install();
    virtual void Remove();
    // An archive gets the compressed item; an archive without a folder of its
    // own is refused.
    virtual std::unique_ptr<TFileDeployer> CreateFileDeployer(TPackageFile& file);
    virtual std::unique_ptr<TFileRemover> CreateFileRemover(TPackageFile& file);

    const TItemClass& GetItemClass() const override;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TPackageDeployer() = default;
    // The download of one file: an open stream over a file in the
    // temporary-data folder holding the file's content.
    void GetFileStream(TFileInstaller& sender, std::unique_ptr<QIODevice>& stream);
    void DoProgress(const QString& message, int min, int max, int position);

private:
    void CheckFiles(bool forInstall) const;
};

class TPackageManagerDeployer : public TPackageManager {
public:
    using TProgressEvent =
        std::function<void(const QString& message, int min, int max, int position)>;
    TProgressEvent OnProgress;

    virtual void Update(const QString& name, const QString& oldVersion, const QString& newVersion);
    virtual void Install(const QString& name, const QString& version);
    virtual void Remove(const QString& name, const QString& version);

    TPackageDeployer* FindPackage(const QString& name, const QString& version) const;
    const TItemClass& GetItemClass() const override;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TPackageManagerDeployer() = default;
    // Finishes or undoes package folder swaps that a crash interrupted, then reads the file.
    void DoLoad() override;
};

// ---- remote layer

// What the synchronisation asks of the application server's package
// catalogue (the "TPackagesServer" methods); the connection layer adapts its
// proxy to it.
class TPackagesService : public QObject {
public:
    virtual bool IsOpen() const = 0;
    virtual void Load() = 0;
    virtual QString GetPackageVersion(const QString& name) = 0;
    virtual QString GetPackageDescription(const QString& name, const QString& version) = 0;
    // One file name per line.
    virtual QString GetFileNames(const QString& name, const QString& version) = 0;
    virtual QString GetFileDescription(const QString& name, const QString& version,
                                       const QString& fileName) = 0;
    virtual QString GetFileMD5Hash(const QString& name, const QString& version,
                                   const QString& fileName) = 0;
    virtual QString GetFileFolderName(const QString& name, const QString& version,
                                      const QString& fileName) = 0;
    virtual void DownLoadFile(const QString& name, const QString& version, const QString& fileName,
                              QIODevice& dest) = 0;
};

class TRemotePackageFile : public TPackageFileDeployer {
public:
    // The server is the file's store.
    void CreateFileFromStream(QIODevice& source) override;
    void SaveFileToStream(QIODevice& dest) override;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TRemotePackageFile() = default;
    // Every file lives below the "Downloaded Files" folder.
    void Construct(QObject* owner) override;
};

class TRemotePackage : public TPackageDeployer {
public:
    const TItemClass& GetItemClass() const override;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TRemotePackage() = default;
};

class TRemotePackageManager : public TPackageManagerDeployer {
public:
    // The server's catalogue; not owned, forgotten when it is destroyed.
    TPackagesService* Client() const { return FClient.data(); }
    void SetClient(TPackagesService* value) { FClient = value; }
    // The client is set and its connection open.
    bool IsClientOpen() const;

    // Each does nothing and answers empty without an open client.
    QString GetRemotePackageVersion(const QString& name);
    QString GetRemotePackageDescription(const QString& name, const QString& version);
    void RemoteLoad();
    // Replaces the package's file records with the server's list.
    void LoadRemoteFiles(TPackage& package);
    void RemoteDownLoadFile(const QString& name, const QString& version, const QString& fileName,
                            QIODevice& dest);
    // Uploading belongs to the catalogue editor, which this program is not.
    void RemoteUploadFile(const QString& name, const QString& version, const QString& fileName,
                          QIODevice& source);

    const TItemClass& GetItemClass() const override;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TRemotePackageManager() = default;

private:
    QPointer<TPackagesService> FClient;
};

// ---- client layer (the persisted leaf classes)

class TClientPackageFile : public TRemotePackageFile {
public:
    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TClientPackageFile() = default;
};

class TClientPackageFileEnumerator : public TItemEnumerator {
public:
    using TItemEnumerator::TItemEnumerator;
    TClientPackageFile* Current() const;
};

class TClientPackage : public TRemotePackage {
public:
    const TItemClass& GetItemClass() const override;
    std::unique_ptr<TClientPackageFileEnumerator> GetEnumerator() const;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TClientPackage() = default;
};

class TClientPackageEnumerator : public TItemEnumerator {
public:
    using TItemEnumerator::TItemEnumerator;
    TClientPackage* Current() const;
};

class TClientPackageManager : public TRemotePackageManager {
public:
    // Brings the package in step with the server: installs the server's
    // version when the local one is older, missing or damaged.
    void UpdateClientPackage(const QString& pkgName);
    // SSH address / schema / package name, combined as paths.
    static QString ServerSpecificPkgName(const QString& pkgName, const TEnvironment& environment);
    // The folder of the first file (in the server's order) of the latest
    // local package of the name; raises when there is no such package or it
    // has no files.
    QString GetPackageFolder(const QString& pkgName) const;

    // Reports an error of one package during Reset; the others go on.
    using TErrorHandler = std::function<void(const std::exception& error)>;
    TErrorHandler OnResetError;

    std::unique_ptr<TClientPackageEnumerator> GetEnumerator() const;
    const TItemClass& GetItemClass() const override;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TClientPackageManager() = default;
    // Removes every package's files, then saves an empty catalogue.
    void DoReset() override;

    int CompareWithServer(const QString& pkgName, QString& localVersion, QString& serverVersion);
    bool IsInstalledIntact(const QString& pkgName);
    TPackage* AddServerPackage(const QString& pkgName, const QString& localVersion,
                               const QString& serverVersion);
};
