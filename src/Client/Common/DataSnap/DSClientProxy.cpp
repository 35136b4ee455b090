#include "Client/Common/DataSnap/DSClientProxy.h"

#include "Common/Error/CustomException.h"
#include "Common/Files/FileStreams.h"
#include "Common/Files/FileUtils.h"
#include "Common/Util/StrUtilsEx.h"
#include "Platform/Runtime/MainThread.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>
#include <QScopeGuard>
#include <QThread>
#include <QTime>

#include <cmath>

namespace {

// Copies a returned stream into the target in blocks of a fixed size.
class TCopySink : public IDSStreamSink {
public:
    TCopySink(QIODevice* dest, int sizeIndex, qint64 blockSize, std::function<void(qint64)> onSize)
        : FDest(dest), FSizeIndex(sizeIndex), FBlockSize(blockSize), FOnSize(std::move(onSize)) {}

    void BeginStream(qint64 size, const QJsonArray& out) override {
        const qint64 announced = FSizeIndex >= 0 && FSizeIndex < out.size()
                                     ? qint64(out.at(FSizeIndex).toDouble())
                                     : size;
        if (FOnSize)
            FOnSize(announced);
        // The target is written from its start.
        if (!FDest->isSequential())
            FDest->seek(0);
    }
    void WriteStream(const char* data, qint64 size) override {
        FBuffer.append(data, size);
        qsizetype done = 0;
        while (FBuffer.size() - done >= FBlockSize) {
            Write(FBuffer.constData() + done, FBlockSize);
            done += FBlockSize;
        }
        FBuffer.remove(0, done);
    }
    void EndStream() override {
        if (!FBuffer.isEmpty())
            Write(FBuffer.constData(), FBuffer.size());
        FBuffer.clear();
    }

private:
    void Write(const char* data, qint64 size) {
        if (FDest->write(data, size) != size)
            throw EWriteError(QStringLiteral("Stream write error: %1").arg(FDest->errorString()));
    }

    QIODevice* FDest;
    int FSizeIndex;
    qint64 FBlockSize;
    std::function<void(qint64)> FOnSize;
    QByteArray FBuffer;
};

void TellMeasuredSize(QIODevice* device, qint64 size, bool reading) {
    if (auto* measured = qobject_cast<TMeasuredFileStream*>(device)) {
        if (reading)
            measured->InitializeRead(size);
        else
            measured->InitializeWrite(size);
    }
}

} // namespace

// ---- TClientBaseProxy

TClientBaseProxy::TClientBaseProxy(QObject* owner) : QObject(owner) {}

TClientBaseProxy::~TClientBaseProxy() {
    SetConnection(nullptr);
}

void TClientBaseProxy::SetConnection(TDSConnection* connection) {
    if (connection == FConnection)
        return;
    ClearServerResources();
    FConnection = connection;
}

bool TClientBaseProxy::ClearServerResources() {
    if (!IsOpen())
        return false;
    try {
        TDSServerMethod command(*FConnection, QStringLiteral("DSAdmin.ClearResources"));
        command.Prepare();
        command.Execute();
        return command.GetBoolean(0);
    } catch (const EDSSocketError&) {
    } catch (const EDSConnClosedGracefully&) {
    } catch (const std::exception& e) {
        ShowException(e, QStringLiteral("Hiba történt"));
    }
    return false;
}

std::unique_ptr<TDSServerMethod> TClientBaseProxy::NewCommand(const QString& methodName) {
    TV_ASSERT(FConnection != nullptr);
    auto command = std::make_unique<TDSServerMethod>(*FConnection, methodName);
    command->Prepare();
    return command;
}

void TClientBaseProxy::UploadStream(TDSServerMethod& command, int index, QIODevice* source) {
    TV_ASSERT(source != nullptr);
    auto release = qScopeGuard([this] { ClearServerResources(); });
    const qint64 size = source->size();
    TellMeasuredSize(source, size, true);
    command.SetStream(index, source, size);
    command.Execute();
}

void TClientBaseProxy::DownloadStream(TDSServerMethod& command, int streamIndex, int sizeIndex,
                                      QIODevice* dest, qint64 blockSize) {
    TV_ASSERT(dest != nullptr);
    auto release = qScopeGuard([this] { ClearServerResources(); });
    TCopySink sink(dest, sizeIndex, blockSize,
                   [dest](qint64 size) { TellMeasuredSize(dest, size, false); });
    command.SetStreamSink(streamIndex, &sink);
    command.Execute();
}

QStringList TClientBaseProxy::SplitLines(const QString& text) {
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = t.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// ---- TSessionInfoClient

void TSessionInfoClient::InitializeClient2(const QString& sessionId) {
    auto cmd = NewCommand(QStringLiteral("TSessionInfoServer.InitializeClient2"));
    cmd->SetText(0, sessionId);
    cmd->Execute();
}

void TSessionInfoClient::SetApplication(const QString& application, const QString& version) {
    auto cmd = NewCommand(QStringLiteral("TSessionInfoServer.SetApplication"));
    cmd->SetText(0, application);
    cmd->SetText(1, version);
    cmd->Execute();
}

void TSessionInfoClient::SetDocumentPath(const QString& userName, const QString& password,
                                         const QString& dbSchema) {
    auto cmd = NewCommand(QStringLiteral("TSessionInfoServer.SetDocumentPath"));
    cmd->SetText(0, userName);
    cmd->SetText(1, password);
    cmd->SetText(2, dbSchema);
    cmd->Execute();
}

void TSessionInfoClient::InitializeClient(const QString& dbSchema) {
    auto cmd = NewCommand(QStringLiteral("TSessionInfoServer.InitializeClient"));
    cmd->SetText(0, dbSchema);
    cmd->Execute();
}

// ---- TServerInfoClient

std::vector<std::unique_ptr<TClient>> TServerInfoClient::GetClients() {
    auto cmd = NewCommand(QStringLiteral("TServerInfoServer.GetClients"));
    cmd->Execute();
    return ClientsFromJson(cmd->GetJson(0));
}

std::vector<std::unique_ptr<TClient>> TServerInfoClient::ClientsFromJson(const QJsonValue& value) {
    std::vector<std::unique_ptr<TClient>> list;
    if (!value.isArray())
        return list;
    auto text = [](const QJsonObject& fields, const char* name) {
        const QJsonValue v = fields.value(QLatin1String(name));
        if (v.isUndefined() || v.isNull())
            return QString();
        if (!v.isString())
            throw EConvertError(QStringLiteral("The field %1 is not a text.").arg(name));
        return v.toString();
    };
    auto integer = [](const QJsonObject& fields, const char* name, qint64 low, qint64 high) {
        const QJsonValue v = fields.value(QLatin1String(name));
        if (v.isUndefined() || v.isNull())
            return qint64(0);
        bool ok = v.isDouble();
        double d = v.toDouble();
        if (v.isString())
            d = v.toString().toDouble(&ok);
        if (!ok || d != std::floor(d) || d < double(low) || d > double(high))
            throw EConvertError(QStringLiteral("The field %1 is not a valid integer.").arg(name));
        return qint64(d);
    };
    for (const QJsonValue& element : value.toArray()) {
        const QJsonObject fields = element.toObject().value(QStringLiteral("fields")).toObject();
        if (!element.isObject() || fields.isEmpty())
            throw EConvertError(QStringLiteral("A client of the server's list has no fields."));
        const QString id = text(fields, "FId");
        if (id.isEmpty())
            throw EConvertError(QStringLiteral("A client of the server's list has no identity."));
        auto client = std::make_unique<TClient>(id);
        client->SetPort(quint16(integer(fields, "FPort", 0, 65535)));
        client->SetAddress(text(fields, "FAddress"));
        client->SetUserName(text(fields, "FUserName"));
        client->SetVersion(text(fields, "FVersion"));
        const QString started = text(fields, "FStarted");
        const QDateTime when =
            QDateTime::fromString(started, QStringLiteral("yyyy.MM.dd HH:mm:ss:zzz"));
        if (!when.isValid())
            throw EConvertError(QStringLiteral("'%1' is not a valid date and time").arg(started));
        client->SetStarted(TDateTime::FromDateTime(when));
        client->SetApplication(text(fields, "FApplication"));
        client->SetLoginTries(qint32(integer(fields, "FLoginTries", INT32_MIN, INT32_MAX)));
        list.push_back(std::move(client));
    }
    return list;
}

// ---- TDocumentClient

TDocumentClient::TProgressFileStream::TProgressFileStream(const QString& fileName,
                                                          IDocumentProgress* progress)
    : QFile(fileName), FProgress(progress) {}

void TDocumentClient::TProgressFileStream::Begin(qint64 size) {
    FSize = size;
    FDone = 0;
    FTimer.start();
    if (FProgress != nullptr)
        RunOnMainThread([this] {
            FProgress->SetRange(FSize);
            FProgress->SetPosition(0);
        });
}

qint64 TDocumentClient::TProgressFileStream::readData(char* data, qint64 maxSize) {
    const qint64 n = QFile::readData(data, maxSize);
    if (n > 0)
        FDone += n;
    Report();
    return n;
}

qint64 TDocumentClient::TProgressFileStream::writeData(const char* data, qint64 maxSize) {
    const qint64 n = QFile::writeData(data, maxSize);
    if (n > 0)
        FDone += n;
    Report();
    return n;
}

QString TDocumentClient::TProgressFileStream::Text(const QString& format) const {
    // The rate is what moved so far over the time it took; before anything
    // moved there is no estimate.
    const double seconds = FTimer.isValid() ? double(FTimer.nsecsElapsed()) / 1e9 : 0.0;
    const double rate = seconds > 0 ? double(FDone) / seconds : 0.0;
    const double remain = rate > 0 ? double(FSize - FDone) / rate : 0.0;
    const QTime time = QTime(0, 0).addMSecs(int(std::fmod(remain * 1000.0, 86400000.0)));
    QString timeFormat = QLocale::system().timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t'));
    return Format(format, {QFileInfo(fileName()).fileName(), SizeToText(FSize), SizeToText(FDone),
                           QLocale::system().toString(time, timeFormat.trimmed())});
}

void TDocumentClient::TProgressFileStream::Report() {
    if (FProgress == nullptr)
        return;
    const QString text = ProgressText();
    RunOnMainThread([this, text] {
        FProgress->SetPosition(FDone);
        FProgress->SetText(text);
    });
}

TDocumentClient::TDownloadFileStream::TDownloadFileStream(const QString& fileName,
                                                          IDocumentProgress* progress)
    : TProgressFileStream(fileName, progress) {
    if (!open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw EFCreateError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, errorString()));
}

QString TDocumentClient::TDownloadFileStream::ProgressText() const {
    return Text(QStringLiteral("Fájl letöltése: %s.\r\n%s / %s.\r\nHátralévő idő: %s"));
}

TDocumentClient::TUploadFileStream::TUploadFileStream(const QString& fileName,
                                                      IDocumentProgress* progress)
    : TProgressFileStream(fileName, progress) {
    if (!open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw EFOpenError(
            QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, errorString()));
}

QString TDocumentClient::TUploadFileStream::ProgressText() const {
    return Text(QStringLiteral("Fájl feltöltése: %s.\r\n%s / %s.\r\nHátralévő idő: %s"));
}

void TDocumentClient::Lock() {
    if (!IsMainThread()) {
        FLock.lock();
        return;
    }
    while (!FLock.try_lock()) {
        QCoreApplication::processEvents();
        QThread::msleep(100);
    }
}

void TDocumentClient::DownLoadFile(const QString& path, const QString& fileName,
                                   IDocumentProgress* progress) {
    Lock();
    auto unlock = qScopeGuard([this] {
        ClearServerResources();
        FLock.unlock();
    });
    auto cmd = NewCommand(QStringLiteral("TDocumentServer.DownLoadFile"));
    cmd->SetText(0, fileName);
    TDownloadFileStream dest(path, progress);
    TCopySink sink(&dest, 1, 32768, [&dest](qint64 size) { dest.Begin(size); });
    cmd->SetStreamSink(2, &sink);
    cmd->Execute();
}

void TDocumentClient::UpLoadFile(const QString& path, const QString& fileName,
                                 IDocumentProgress* progress) {
    Lock();
    auto unlock = qScopeGuard([this] {
        ClearServerResources();
        FLock.unlock();
    });
    TUploadFileStream source(path, progress);
    source.Begin(source.size());
    DoUpLoadFile(fileName, source.size(), &source);
}

void TDocumentClient::DoUpLoadFile(const QString& fileName, qint64 fileSize, QIODevice* stream) {
    auto cmd = NewCommand(QStringLiteral("TDocumentServer.UpLoadFile"));
    cmd->SetText(0, fileName);
    cmd->SetInt64(1, fileSize);
    cmd->SetStream(2, stream, fileSize);
    cmd->Execute();
}

bool TDocumentClient::FileExists(const QString& fileName) {
    Lock();
    auto unlock = qScopeGuard([this] {
        ClearServerResources();
        FLock.unlock();
    });
    auto cmd = NewCommand(QStringLiteral("TDocumentServer.FileExists"));
    cmd->SetText(0, fileName);
    cmd->Execute();
    return cmd->GetBoolean(1);
}

bool TDocumentClient::CheckCreateFile(const QString& fileName) {
    Lock();
    auto unlock = qScopeGuard([this] {
        ClearServerResources();
        FLock.unlock();
    });
    auto cmd = NewCommand(QStringLiteral("TDocumentServer.CheckCreateFile"));
    cmd->SetText(0, fileName);
    cmd->Execute();
    return cmd->GetBoolean(1);
}

// ---- TPackagesClient

void TPackagesClient::Call3(const QString& method, const QString& a, const QString& b,
                            const QString& c) {
    auto cmd = NewCommand(method);
    cmd->SetText(0, a);
    cmd->SetText(1, b);
    if (cmd->ParamCount() > 2)
        cmd->SetText(2, c);
    cmd->Execute();
}

QString TPackagesClient::Get(const QString& method, const QStringList& args) {
    auto cmd = NewCommand(method);
    for (int i = 0; i < args.size(); ++i)
        cmd->SetText(i, args[i]);
    cmd->Execute();
    return cmd->GetText(int(args.size()));
}

void TPackagesClient::BeginUpdate() {
    NewCommand(QStringLiteral("TPackagesServer.BeginUpdate"))->Execute();
}

void TPackagesClient::EndUpdate() {
    NewCommand(QStringLiteral("TPackagesServer.EndUpdate"))->Execute();
}

void TPackagesClient::Load() {
    NewCommand(QStringLiteral("TPackagesServer.Load"))->Execute();
}

void TPackagesClient::Save() {
    NewCommand(QStringLiteral("TPackagesServer.Save"))->Execute();
}

QString TPackagesClient::GetPackageNames() {
    return Get(QStringLiteral("TPackagesServer.GetPackageNames"), {});
}

QString TPackagesClient::GetPackageVersion(const QString& name) {
    return Get(QStringLiteral("TPackagesServer.GetPackageVersion"), {name});
}

void TPackagesClient::CreatePackage(const QString& name, const QString& version) {
    Call3(QStringLiteral("TPackagesServer.CreatePackage"), name, version, QString());
}

void TPackagesClient::DeletePackage(const QString& name, const QString& version) {
    Call3(QStringLiteral("TPackagesServer.DeletePackage"), name, version, QString());
}

QString TPackagesClient::GetPackageDescription(const QString& name, const QString& version) {
    return Get(QStringLiteral("TPackagesServer.GetPackageDescription"), {name, version});
}

void TPackagesClient::SetPackageDescription(const QString& name, const QString& version,
                                            const QString& description) {
    Call3(QStringLiteral("TPackagesServer.SetPackageDescription"), name, version, description);
}

void TPackagesClient::SetPackageVersion(const QString& name, const QString& oldVersion,
                                        const QString& newVersion) {
    Call3(QStringLiteral("TPackagesServer.SetPackageVersion"), name, oldVersion, newVersion);
}

TDateTime TPackagesClient::GetPackageDeployDate(const QString& name, const QString& version) {
    auto cmd = NewCommand(QStringLiteral("TPackagesServer.GetPackageDeployDate"));
    cmd->SetText(0, name);
    cmd->SetText(1, version);
    cmd->Execute();
    return TDateTime(cmd->GetDateTime(2));
}

void TPackagesClient::SetPackageDeployDate(const QString& name, const QString& version,
                                           TDateTime deployDate) {
    auto cmd = NewCommand(QStringLiteral("TPackagesServer.SetPackageDeployDate"));
    cmd->SetText(0, name);
    cmd->SetText(1, version);
    cmd->SetDateTime(2, deployDate.Value());
    cmd->Execute();
}

TDateTime TPackagesClient::GetPackageUpdateDate(const QString& name, const QString& version) {
    auto cmd = NewCommand(QStringLiteral("TPackagesServer.GetPackageUpdateDate"));
    cmd->SetText(0, name);
    cmd->SetText(1, version);
    cmd->Execute();
    return TDateTime(cmd->GetDateTime(2));
}

void TPackagesClient::SetPackageUpdateDate(const QString& name, const QString& version,
                                           TDateTime updateDate) {
    auto cmd = NewCommand(QStringLiteral("TPackagesServer.SetPackageUpdateDate"));
    cmd->SetText(0, name);
    cmd->SetText(1, version);
    cmd->SetDateTime(2, updateDate.Value());
    cmd->Execute();
}

QString TPackagesClient::GetFileNames(const QString& name, const QString& version) {
    return Get(QStringLiteral("TPackagesServer.GetFileNames"), {name, version});
}

void TPackagesClient::CreateFile(const QString& name, const QString& version,
                                 const QString& fileName) {
    Call3(QStringLiteral("TPackagesServer.CreateFile"), name, version, fileName);
}

void TPackagesClient::DeleteFile(const QString& name, const QString& version,
                                 const QString& fileName) {
    Call3(QStringLiteral("TPackagesServer.DeleteFile"), name, version, fileName);
}

QString TPackagesClient::GetFileFolderName(const QString& name, const QString& version,
                                           const QString& fileName) {
    return Get(QStringLiteral("TPackagesServer.GetFileFolderName"), {name, version, fileName});
}

void TPackagesClient::SetFileFolderName(const QString& name, const QString& version,
                                        const QString& fileName, const QString& folderName) {
    auto cmd = NewCommand(QStringLiteral("TPackagesServer.SetFileFolderName"));
    cmd->SetText(0, name);
    cmd->SetText(1, version);
    cmd->SetText(2, fileName);
    cmd->SetText(3, folderName);
    cmd->Execute();
}

QString TPackagesClient::GetFileMD5Hash(const QString& name, const QString& version,
                                        const QString& fileName) {
    return Get(QStringLiteral("TPackagesServer.GetFileMD5Hash"), {name, version, fileName});
}

void TPackagesClient::SetFileMD5Hash(const QString& name, const QString& version,
                                     const QString& fileName, const QString& md5Hash) {
    auto cmd = NewCommand(QStringLiteral("TPackagesServer.SetFileMD5Hash"));
    cmd->SetText(0, name);
    cmd->SetText(1, version);
    cmd->SetText(2, fileName);
    cmd->SetText(3, md5Hash);
    cmd->Execute();
}

QString TPackagesClient::GetFileDescription(const QString& name, const QString& version,
                                            const QString& fileName) {
    return Get(QStringLiteral("TPackagesServer.GetFileDescription"), {name, version, fileName});
}

void TPackagesClient::SetFileDescription(const QString& name, const QString& version,
                                         const QString& fileName, const QString& description) {
    auto cmd = NewCommand(QStringLiteral("TPackagesServer.SetFileDescription"));
    cmd->SetText(0, name);
    cmd->SetText(1, version);
    cmd->SetText(2, fileName);
    cmd->SetText(3, description);
    cmd->Execute();
}

void TPackagesClient::Update(const QString& name, const QString& oldVersion,
                             const QString& newVersion) {
    Call3(QStringLiteral("TPackagesServer.Update"), name, oldVersion, newVersion);
}

void TPackagesClient::Install(const QString& name, const QString& version) {
    Call3(QStringLiteral("TPackagesServer.Install"), name, version, QString());
}

void TPackagesClient::Remove(const QString& name, const QString& version) {
    Call3(QStringLiteral("TPackagesServer.Remove"), name, version, QString());
}

void TPackagesClient::UpLoadFile(const QString& name, const QString& version,
                                 const QString& fileName, QIODevice* source) {
    auto cmd = NewCommand(QStringLiteral("TPackagesServer.UpLoadFile"));
    cmd->SetText(0, name);
    cmd->SetText(1, version);
    cmd->SetText(2, fileName);
    UploadStream(*cmd, 3, source);
}

void TPackagesClient::UpLoadFile(const QString& name, const QString& version,
                                 const QString& fileName, const QString& path) {
    std::unique_ptr<TMeasuredFileStream> source =
        CreateProgressFileStream(fsUpload, path, fmOpenRead | fmShareDenyWrite);
    UpLoadFile(name, version, fileName, source.get());
}

void TPackagesClient::DownLoadFile(const QString& name, const QString& version,
                                   const QString& fileName, QIODevice* dest) {
    auto cmd = NewCommand(QStringLiteral("TPackagesServer.DownLoadFile"));
    cmd->SetText(0, name);
    cmd->SetText(1, version);
    cmd->SetText(2, fileName);
    DownloadStream(*cmd, 3, 4, dest, 16384);
}

void TPackagesClient::DownLoadFile(const QString& name, const QString& version,
                                   const QString& fileName, const QString& path) {
    TFileUtils::CreateDirectory(path);
    std::unique_ptr<TMeasuredFileStream> dest =
        CreateProgressFileStream(fsDownload, path, fmCreate);
    DownLoadFile(name, version, fileName, dest.get());
}

// ---- TErrorRiportClient

void TErrorRiportClient::UpLoadFile(const QString& fileName, QIODevice* source) {
    for (const QChar c : fileName) {
        if (c.unicode() < 32 || c == QLatin1Char('"') || c == QLatin1Char('<') ||
            c == QLatin1Char('>') || c == QLatin1Char('|'))
            throw EArgumentException(QStringLiteral("Invalid characters in path"));
    }
    auto cmd = NewCommand(QStringLiteral("TErrorRiportServer.UpLoadFile"));
    cmd->SetText(0, QFileInfo(fileName).fileName());
    UploadStream(*cmd, 1, source);
}

void TErrorRiportClient::DownLoadFile(const QString& fileName, QIODevice* dest) {
    auto cmd = NewCommand(QStringLiteral("TErrorRiportServer.DownLoadFile"));
    cmd->SetText(0, fileName);
    DownloadStream(*cmd, 1, 2, dest, 16384);
}

void TErrorRiportClient::ListOfErrorRiports(QStringList& fileNames) {
    auto cmd = NewCommand(QStringLiteral("TErrorRiportServer.ListOfErrorRiports"));
    cmd->Execute();
    fileNames = SplitLines(cmd->GetText(0));
}

void TErrorRiportClient::DeleteFile(const QString& fileName) {
    auto cmd = NewCommand(QStringLiteral("TErrorRiportServer.DeleteFile"));
    cmd->SetText(0, fileName);
    cmd->Execute();
}
