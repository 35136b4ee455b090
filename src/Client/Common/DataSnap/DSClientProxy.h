#pragma once

// The proxies of the application server's methods: one class per server
// class, each turning one local call into one remote call.

#include "Common/Network/ServerClients.h"
#include "Common/Repository/DateTime.h"
#include "Platform/DataSnap/DSConnection.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonValue>
#include <QObject>
#include <QStringList>

#include <memory>
#include <mutex>

class QIODevice;

class TClientBaseProxy : public QObject {
    Q_OBJECT
public:
    explicit TClientBaseProxy(QObject* owner = nullptr);
    ~TClientBaseProxy() override;

    TDSConnection* Connection() const { return FConnection; }
    // A different connection first releases what the server holds for the
    // old one; the same one changes nothing.
    void SetConnection(TDSConnection* connection);
    bool IsOpen() const { return FConnection != nullptr && FConnection->Connected(); }

    // Releases what the server holds for this connection ("DSAdmin.ClearResources").
    // A closed connection answers false without a call; network errors are
    // ignored, any other error is shown; never raises.
    bool ClearServerResources();

protected:
    // A prepared command of the method; the proxy must be bound.
    std::unique_ptr<TDSServerMethod> NewCommand(const QString& methodName);
    // Sends the stream as the parameter at AIndex: a progress stream is told
    // its size first; server resources are released afterwards.
    void UploadStream(TDSServerMethod& command, int index, QIODevice* source);
    // Runs a command that returns a stream (at streamIndex) and its size (at
    // sizeIndex), copying the stream into ADest in blocks of ABlockSize.
    void DownloadStream(TDSServerMethod& command, int streamIndex, int sizeIndex, QIODevice* dest,
                        qint64 blockSize);
    static QStringList SplitLines(const QString& text);

private:
    TDSConnection* FConnection = nullptr;
};

class TSessionInfoClient : public TClientBaseProxy {
    Q_OBJECT
public:
    using TClientBaseProxy::TClientBaseProxy;
    void InitializeClient2(const QString& sessionId);
    void SetApplication(const QString& application, const QString& version);
    void SetDocumentPath(const QString& userName, const QString& password, const QString& dbSchema);
    void InitializeClient(const QString& dbSchema);
};

class TServerInfoClient : public TClientBaseProxy {
    Q_OBJECT
public:
    using TClientBaseProxy::TClientBaseProxy;
    std::vector<std::unique_ptr<TClient>> GetClients();
    // The clients of a GetClients answer: none unless it is an array; an
    // element that is no client raises EConvertError.
    static std::vector<std::unique_ptr<TClient>> ClientsFromJson(const QJsonValue& value);
};

// Shows the progress of a document transfer (a bar and a label); calls
// arrive on the main thread.
class IDocumentProgress {
public:
    virtual ~IDocumentProgress() = default;
    virtual void SetRange(qint64 maximum) = 0;
    virtual void SetPosition(qint64 position) = 0;
    virtual void SetText(const QString& text) = 0;
};

class TDocumentClient : public TClientBaseProxy {
    Q_OBJECT
public:
    // A file stream that reports its progress after every read or write.
    class TProgressFileStream : public QFile {
    public:
        TProgressFileStream(const QString& fileName, IDocumentProgress* progress);
        void Begin(qint64 size);
        // The label text for the current state.
        virtual QString ProgressText() const = 0;

    protected:
        qint64 readData(char* data, qint64 maxSize) override;
        qint64 writeData(const char* data, qint64 maxSize) override;
        QString Text(const QString& format) const;
        void Report();

        IDocumentProgress* FProgress;
        qint64 FSize = 0;
        qint64 FDone = 0;
        QElapsedTimer FTimer;
    };
    class TDownloadFileStream : public TProgressFileStream {
    public:
        TDownloadFileStream(const QString& fileName, IDocumentProgress* progress);
        QString ProgressText() const override;
    };
    class TUploadFileStream : public TProgressFileStream {
    public:
        TUploadFileStream(const QString& fileName, IDocumentProgress* progress);
        QString ProgressText() const override;
    };

    using TClientBaseProxy::TClientBaseProxy;
    void DownLoadFile(const QString& path, const QString& fileName, IDocumentProgress* progress);
    void UpLoadFile(const QString& path, const QString& fileName, IDocumentProgress* progress);
    bool FileExists(const QString& fileName);
    bool CheckCreateFile(const QString& fileName);

protected:
    void DoUpLoadFile(const QString& fileName, qint64 fileSize, QIODevice* stream);

private:
    // Takes the lock; the main thread keeps its user interface alive while waiting.
    void Lock();
    std::mutex FLock;
};

class TPackagesClient : public TClientBaseProxy {
    Q_OBJECT
public:
    using TClientBaseProxy::TClientBaseProxy;
    void BeginUpdate();
    void EndUpdate();
    void Load();
    void Save();
    QString GetPackageNames();
    QString GetPackageVersion(const QString& name);
    void CreatePackage(const QString& name, const QString& version);
    void DeletePackage(const QString& name, const QString& version);
    QString GetPackageDescription(const QString& name, const QString& version);
    void SetPackageDescription(const QString& name, const QString& version,
                               const QString& description);
    void SetPackageVersion(const QString& name, const QString& oldVersion,
                           const QString& newVersion);
    TDateTime GetPackageDeployDate(const QString& name, const QString& version);
    void SetPackageDeployDate(const QString& name, const QString& version, TDateTime deployDate);
    TDateTime GetPackageUpdateDate(const QString& name, const QString& version);
    void SetPackageUpdateDate(const QString& name, const QString& version, TDateTime updateDate);
    QString GetFileNames(const QString& name, const QString& version);
    void CreateFile(const QString& name, const QString& version, const QString& fileName);
    void DeleteFile(const QString& name, const QString& version, const QString& fileName);
    QString GetFileFolderName(const QString& name, const QString& version, const QString& fileName);
    void SetFileFolderName(const QString& name, const QString& version, const QString& fileName,
                           const QString& folderName);
    QString GetFileMD5Hash(const QString& name, const QString& version, const QString& fileName);
    void SetFileMD5Hash(const QString& name, const QString& version, const QString& fileName,
                        const QString& md5Hash);
    QString GetFileDescription(const QString& name, const QString& version,
                               const QString& fileName);
    void SetFileDescription(const QString& name, const QString& version, const QString& fileName,
                            const QString& description);
    void Update(const QString& name, const QString& oldVersion, const QString& newVersion);
    void Install(const QString& name, const QString& version);
    void Remove(const QString& name, const QString& version);
    void UpLoadFile(const QString& name, const QString& version, const QString& fileName,
                    QIODevice* source);
    // Uploads a local file (others may read it meanwhile).
    void UpLoadFile(const QString& name, const QString& version, const QString& fileName,
                    const QString& path);
    void DownLoadFile(const QString& name, const QString& version, const QString& fileName,
                      QIODevice* dest);
    // Downloads into a local file, creating its folder; an existing file is replaced.
    void DownLoadFile(const QString& name, const QString& version, const QString& fileName,
                      const QString& path);

private:
    void Call3(const QString& method, const QString& a, const QString& b, const QString& c);
    QString Get(const QString& method, const QStringList& args);
};

class TErrorRiportClient : public TClientBaseProxy {
    Q_OBJECT
public:
    using TClientBaseProxy::TClientBaseProxy;
    // Sends the file's name without its folder and the stream's content.
    void UpLoadFile(const QString& fileName, QIODevice* source);
    void DownLoadFile(const QString& fileName, QIODevice* dest);
    void ListOfErrorRiports(QStringList& fileNames);
    void DeleteFile(const QString& fileName);
};
