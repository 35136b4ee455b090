// The reference application server: the remote methods of the Tarvolin
// application server over HTTP/1.1 with JSON (PROTOCOL.md), a package
// catalogue on disk, the error-ticket folder, the document store and the
// sessions of the connected clients. Logins are checked against the
// reference database's users.
//
//   tv_appserver serve --env REFENV_FILE --port PORT --data DIR
//   tv_appserver publish --data DIR --name NAME --version VERSION --from FOLDER
//                        [--description TEXT]

#include <httplib.h>

#include "Platform/DataSnap/DSProtocol.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QUuid>

#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <stdexcept>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace DSProtocol;

namespace {

// An error raised by a server method; its message goes to the client.
class TServerError : public std::runtime_error {
public:
    explicit TServerError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

[[noreturn]] void Fail(const QString& message) {
    throw TServerError(message);
}

void Log(const QString& text) {
    std::fprintf(stderr, "%s %s\n",
                 qPrintable(QDateTime::currentDateTime().toString(Qt::ISODateWithMs)),
                 qPrintable(text));
    std::fflush(stderr);
}

// ---- date-time: day counts since 1899-12-30, local time

const QDateTime& Epoch() {
    static const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0));
    return epoch;
}

double ToDateTime(const QDateTime& t) {
    const qint64 days = Epoch().date().daysTo(t.date());
    return double(days) + double(t.time().msecsSinceStartOfDay()) / 86400000.0;
}

// "YYYY.MM.DD HH:NN:SS:ZZZ"
QString ErrorTimeText(const QDateTime& t) {
    return t.toString(QStringLiteral("yyyy.MM.dd HH:mm:ss:zzz"));
}

// A plain file name: no folder part, nothing that leaves the folder.
bool IsPlainFileName(const QString& name) {
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && name != QLatin1String(".") &&
           name != QLatin1String("..") && !name.contains(QChar(0));
}

// Holds an advisory lock on a file for its lifetime.
class TFileLock {
public:
    TFileLock(const QString& fileName, int mode) {
        FFd = ::open(QFile::encodeName(fileName).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (FFd >= 0)
            ::flock(FFd, mode);
    }
    ~TFileLock() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

private:
    int FFd = -1;
};

// ---- the package catalogue

struct TFileRec {
    QString Name;
    QString Folder;
    QString MD5;
    QString Description;
};

struct TPackageRec {
    QString Name;
    QString Version;
    QString Description;
    double DeployDate = 0;
    double UpdateDate = 0;
    std::vector<TFileRec> Files;
};

int CompareVersions(const QString& a, const QString& b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    auto fold = [](QChar c) {
        return c >= QLatin1Char('a') && c <= QLatin1Char('z') ? QChar(c.unicode() - 32) : c;
    };
    for (qsizetype i = 0; i < a.size(); ++i) {
        const QChar x = fold(a[i]);
        const QChar y = fold(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

class TCatalogue {
public:
    explicit TCatalogue(const QString& root) : FRoot(root) {
        QDir().mkpath(FRoot + QStringLiteral("/files"));
    }

    QString FileName() const { return FRoot + QStringLiteral("/catalogue.json"); }
    QString LockName() const { return FRoot + QStringLiteral("/.lock"); }

    void Load() {
        TFileLock lock(LockName(), LOCK_SH);
        LoadUnlocked();
    }

    void LoadUnlocked() {
        FPackages.clear();
        FDirty = false;
        QFile file(FileName());
        RememberStamp();
        if (!file.open(QIODevice::ReadOnly))
            return;
        const QJsonArray list = QJsonDocument::fromJson(file.readAll()).array();
        for (const QJsonValue& v : list) {
            const QJsonObject o = v.toObject();
            TPackageRec p;
            p.Name = o.value("name").toString();
            p.Version = o.value("version").toString();
            p.Description = o.value("description").toString();
            p.DeployDate = o.value("deployDate").toDouble();
            p.UpdateDate = o.value("updateDate").toDouble();
            for (const QJsonValue& fv : o.value("files").toArray()) {
                const QJsonObject f = fv.toObject();
                p.Files.push_back({f.value("name").toString(), f.value("folder").toString(),
                                   f.value("md5").toString(), f.value("description").toString()});
            }
            FPackages.push_back(std::move(p));
        }
    }

    void Save() {
        TFileLock lock(LockName(), LOCK_EX);
        SaveUnlocked();
    }

    void SaveUnlocked() {
        QJsonArray list;
        for (const TPackageRec& p : FPackages) {
            QJsonArray files;
            for (const TFileRec& f : p.Files)
                files.append(QJsonObject{{"name", f.Name},
                                         {"folder", f.Folder},
                                         {"md5", f.MD5},
                                         {"description", f.Description}});
            list.append(QJsonObject{{"name", p.Name},
                                    {"version", p.Version},
                                    {"description", p.Description},
                                    {"deployDate", p.DeployDate},
                                    {"updateDate", p.UpdateDate},
                                    {"files", files}});
        }
        QSaveFile file(FileName());
        if (!file.open(QIODevice::WriteOnly))
            Fail(QStringLiteral("A csomagkatalógus nem menthető: %1").arg(file.errorString()));
        file.write(QJsonDocument(list).toJson());
        if (!file.commit())
            Fail(QStringLiteral("A csomagkatalógus nem menthető: %1").arg(file.errorString()));
        FDirty = false;
        RememberStamp();
    }

    // Takes over what another process (the publish tool) wrote meanwhile.
    void Refresh() {
        QFileInfo info(FileName());
        const qint64 stamp = info.exists() ? info.lastModified().toMSecsSinceEpoch() : 0;
        if (!FDirty && (stamp != FStamp || info.size() != FSize))
            Load();
    }

    // Saves at once unless an update bracket is open.
    void Changed(bool deferred) {
        FDirty = true;
        if (!deferred)
            Save();
    }

    std::vector<TPackageRec>& Packages() { return FPackages; }

    TPackageRec* Find(const QString& name, const QString& version) {
        for (TPackageRec& p : FPackages) {
            if (p.Name == name && p.Version == version)
                return &p;
        }
        return nullptr;
    }

    TPackageRec& Get(const QString& name, const QString& version) {
        TPackageRec* p = Find(name, version);
        if (p == nullptr)
            Fail(QStringLiteral("Nincs \"%1\" nevű, %2 verziójú csomag a katalógusban.")
                     .arg(name, version));
        return *p;
    }

    static TFileRec* FindFile(TPackageRec& p, const QString& fileName) {
        for (TFileRec& f : p.Files) {
            if (f.Name == fileName)
                return &f;
        }
        return nullptr;
    }

    static TFileRec& GetFile(TPackageRec& p, const QString& fileName) {
        TFileRec* f = FindFile(p, fileName);
        if (f == nullptr)
            Fail(QStringLiteral("A(z) \"%1\" fájl nem tartozik a(z) \"%2\" %3 csomaghoz.")
                     .arg(fileName, p.Name, p.Version));
        return *f;
    }

    // Package folders are named by a digest, so any package name is safe.
    QString PackageFolder(const QString& name, const QString& version) const {
        const QByteArray key =
            QCryptographicHash::hash((name + QLatin1Char('\n') + version).toUtf8(),
                                     QCryptographicHash::Md5)
                .toHex();
        return FRoot + QStringLiteral("/files/") + QString::fromLatin1(key);
    }

    QString ContentPath(const TPackageRec& p, const QString& fileName) const {
        if (!IsPlainFileName(fileName))
            Fail(QStringLiteral("Érvénytelen fájlnév: \"%1\".").arg(fileName));
        return PackageFolder(p.Name, p.Version) + QLatin1Char('/') + fileName;
    }

private:
    void RememberStamp() {
        QFileInfo info(FileName());
        FStamp = info.exists() ? info.lastModified().toMSecsSinceEpoch() : 0;
        FSize = info.exists() ? info.size() : 0;
    }

    QString FRoot;
    std::vector<TPackageRec> FPackages;
    bool FDirty = false;
    qint64 FStamp = 0;
    qint64 FSize = 0;
};

// ---- sessions

struct TSession {
    QString Id;
    QString User;
    QByteArray PasswordHash;
    QString Address;
    int Port = 0;
    QDateTime Started;
    QString Application;
    QString Version;
    QString SshSessionId;
    QString Schema;
    QString DocumentUser;
    int UpdateCount = 0;
    qint64 LastUse = 0;
    // What the session's calls left on the server (streams passed or
    // returned) until the client releases them.
    std::vector<std::shared_ptr<void>> Resources;
};

QByteArray PasswordHash(const QString& id, const QString& password) {
    return QCryptographicHash::hash((id + QLatin1Char(':') + password).toUtf8(),
                                    QCryptographicHash::Sha256);
}

// ---- one call

struct TParamSpec {
    TParamDirection Direction;
    TParamType Type;
    const char* Name;
};

struct TCall {
    std::shared_ptr<TSession> Session;
    QJsonArray In;
    QString InStreamFile; // the received stream, in a temporary file
    qint64 InStreamSize = 0;
    QString InStreamMD5;
    QJsonArray Out;
    std::shared_ptr<QFile> OutStream;
    int OutStreamIndex = -1;

    QString Text(int i) const { return In.at(i).toString(); }
    qint64 Int(int i) const { return qint64(In.at(i).toDouble()); }
    double Date(int i) const { return In.at(i).toDouble(); }
    void Set(int i, const QJsonValue& v) { Out[i] = v; }
    void SetStream(int i, const QString& fileName) {
        auto file = std::make_shared<QFile>(fileName);
        if (!file->open(QIODevice::ReadOnly))
            Fail(QStringLiteral("A(z) \"%1\" fájl nem olvasható: %2.")
                     .arg(QFileInfo(fileName).fileName(), file->errorString()));
        OutStream = file;
        OutStreamIndex = i;
    }
};

struct TMethod {
    std::vector<TParamSpec> Params;
    std::function<void(TCall&)> Run;
    int StreamIn() const {
        for (size_t i = 0; i < Params.size(); ++i) {
            if (Params[i].Type == ptStream && Params[i].Direction == pdIn)
                return int(i);
        }
        return -1;
    }
};

TParamSpec In(TParamType type, const char* name) {
    return {pdIn, type, name};
}
TParamSpec Out(TParamType type, const char* name) {
    return {pdOut, type, name};
}
TParamSpec Res(TParamType type) {
    return {pdResult, type, "ReturnParameter"};
}

// ---- the server

class TAppServer {
public:
    TAppServer(const QString& dataDir, std::map<QString, QString> db)
        : FData(dataDir), FDb(std::move(db)), FCatalogue(dataDir + QStringLiteral("/packages")) {
        QDir().mkpath(FData + QStringLiteral("/tickets"));
        QDir().mkpath(FData + QStringLiteral("/documents"));
        QDir().mkpath(FData + QStringLiteral("/tmp"));
        FCatalogue.Load();
        RegisterMethods();
    }

    bool Listen(int port) {
        FServer.set_read_timeout(120);
        FServer.set_write_timeout(120);
        // A connection waits for its next request on a thread of its own.
        FServer.new_task_queue = [] { return new httplib::ThreadPool(64); };
        FServer.set_tcp_nodelay(true);
        FServer.set_keep_alive_timeout(60);
        FServer.set_keep_alive_max_count(100000);
        FServer.set_payload_max_length(std::numeric_limits<size_t>::max());
        FServer.Post(ConnectPath, [this](const httplib::Request& req, httplib::Response& res) {
            Connect(req, res);
        });
        FServer.Post(DisconnectPath, [this](const httplib::Request& req, httplib::Response& res) {
            auto s = Authenticate(req, res);
            if (!s)
                return;
            std::lock_guard<std::mutex> guard(FLock);
            FCatalogueUpdates -= s->UpdateCount;
            FSessions.erase(s->Id);
            Json(res, QJsonObject{{"result", true}});
        });
        FServer.Get(ResourcesPath, [this](const httplib::Request& req, httplib::Response& res) {
            auto s = Authenticate(req, res);
            if (!s)
                return;
            std::lock_guard<std::mutex> guard(FLock);
            Json(res, QJsonObject{{"resources", qint64(s->Resources.size())},
                                  {"sshSessionId", s->SshSessionId}});
        });
        // Test hook: the shape of the GetClients answer ("array" or "object").
        FServer.Post("/datasnap/admin/clientsshape",
                     [this](const httplib::Request& req, httplib::Response& res) {
                         if (!Authenticate(req, res))
                             return;
                         FClientsAsObject = req.body == "object";
                         Json(res, QJsonObject{{"result", true}});
                     });
        FServer.Get(
            R"(/datasnap/describe/([A-Za-z0-9_]+)/([A-Za-z0-9_]+))",
            [this](const httplib::Request& req, httplib::Response& res) { Describe(req, res); });
        FServer.Post(R"(/datasnap/rest/([A-Za-z0-9_]+)/([A-Za-z0-9_]+))",
                     [this](const httplib::Request& req, httplib::Response& res,
                            const httplib::ContentReader& reader) { Invoke(req, res, reader); });
        return FServer.listen("127.0.0.1", port);
    }

    void Stop() { FServer.stop(); }

private:
    static void Json(httplib::Response& res, const QJsonObject& o, int status = 200) {
        res.status = status;
        res.set_content(QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(), JsonType);
    }

    static void Error(httplib::Response& res, int status, const QString& message,
                      const QString& cls = QStringLiteral("TDSServerError")) {
        Json(res, QJsonObject{{"error", message}, {"class", cls}}, status);
    }

    // A login is a database user with its password.
    bool CheckDatabaseLogin(const QString& user, const QString& password, QString& reason) {
        const QByteArray host = FDb["TV_DB_HOST"].toUtf8();
        const QByteArray port = FDb["TV_DB_PORT"].toUtf8();
        const QByteArray name = FDb["TV_DB_SERVICE"].toLower().toUtf8();
        const QByteArray u = user.toLower().toUtf8();
        const QByteArray p = password.toUtf8();
        const char* keys[] = {"host", "port", "dbname", "user", "password", "connect_timeout",
                              nullptr};
        const char* values[] = {host.constData(), port.constData(), name.constData(),
                                u.constData(),    p.constData(),    "10",
                                nullptr};
        PGconn* conn = PQconnectdbParams(keys, values, 0);
        const bool ok = PQstatus(conn) == CONNECTION_OK;
        if (!ok)
            reason = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
        PQfinish(conn);
        return ok;
    }

    void Connect(const httplib::Request& req, httplib::Response& res) {
        QString user, password;
        if (!ParseBasicAuthorization(
                QByteArray::fromStdString(req.get_header_value("Authorization")), user, password) ||
            user.isEmpty()) {
            Error(res, 401, QStringLiteral("Hiányzó felhasználónév vagy jelszó."),
                  QStringLiteral("TDSAuthenticationError"));
            return;
        }
        QString reason;
        if (!CheckDatabaseLogin(user, password, reason)) {
            Log(QStringLiteral("login refused for %1: %2").arg(user, reason));
            Error(res, 401,
                  QStringLiteral("A(z) %1 felhasználó bejelentkezése sikertelen: hibás "
                                 "felhasználónév vagy jelszó.")
                      .arg(user),
                  QStringLiteral("TDSAuthenticationError"));
            return;
        }
        auto s = std::make_shared<TSession>();
        s->Id = QUuid::createUuid().toString(QUuid::WithBraces).toUpper();
        s->User = user.toLower();
        s->PasswordHash = PasswordHash(s->Id, password);
        s->Address = QString::fromStdString(req.remote_addr);
        s->Port = req.remote_port;
        s->Started = QDateTime::currentDateTime();
        s->LastUse = QDateTime::currentMSecsSinceEpoch();
        {
            std::lock_guard<std::mutex> guard(FLock);
            // Sessions idle for a day are forgotten.
            const qint64 limit = s->LastUse - 24LL * 3600 * 1000;
            for (auto it = FSessions.begin(); it != FSessions.end();) {
                if (it->second->LastUse < limit) {
                    FCatalogueUpdates -= it->second->UpdateCount;
                    it = FSessions.erase(it);
                } else {
                    ++it;
                }
            }
            FSessions[s->Id] = s;
        }
        Log(QStringLiteral("session %1 for %2 from %3:%4")
                .arg(s->Id, s->User, s->Address)
                .arg(s->Port));
        Json(res, QJsonObject{{"session", s->Id}});
    }

    // The session of the request, its user and password checked; answers
    // null after writing the refusal.
    std::shared_ptr<TSession> Authenticate(const httplib::Request& req, httplib::Response& res) {
        QString user, password;
        const QString id = QString::fromStdString(req.get_header_value(SessionHeader));
        if (!ParseBasicAuthorization(
                QByteArray::fromStdString(req.get_header_value("Authorization")), user, password)) {
            Error(res, 401, QStringLiteral("Hiányzó felhasználónév vagy jelszó."),
                  QStringLiteral("TDSAuthenticationError"));
            return nullptr;
        }
        std::lock_guard<std::mutex> guard(FLock);
        auto it = FSessions.find(id);
        if (it == FSessions.end()) {
            Error(res, 401, QStringLiteral("A munkamenet nem létezik: %1.").arg(id),
                  QStringLiteral("TDSSessionClosed"));
            return nullptr;
        }
        if (it->second->User != user.toLower() ||
            it->second->PasswordHash != PasswordHash(id, password)) {
            Error(res, 401, QStringLiteral("Hibás felhasználónév vagy jelszó."),
                  QStringLiteral("TDSAuthenticationError"));
            return nullptr;
        }
        it->second->LastUse = QDateTime::currentMSecsSinceEpoch();
        return it->second;
    }

    void Describe(const httplib::Request& req, httplib::Response& res) {
        if (!Authenticate(req, res))
            return;
        const QString name =
            QString::fromStdString(req.matches[1].str() + "." + req.matches[2].str());
        auto it = FMethods.find(name);
        if (it == FMethods.end()) {
            Error(res, 404, QStringLiteral("Ismeretlen szervermetódus: %1.").arg(name));
            return;
        }
        QJsonArray params;
        for (const TParamSpec& p : it->second.Params)
            params.append(QJsonObject{{"name", QLatin1String(p.Name)},
                                      {"direction", QLatin1String(DirectionName(p.Direction))},
                                      {"type", QLatin1String(TypeName(p.Type))}});
        Json(res, QJsonObject{{"method", name}, {"params", params}});
    }

    static bool TypeMatches(TParamType type, const QJsonValue& v) {
        switch (type) {
        case ptText:
            return v.isString();
        case ptInt64:
        case ptDateTime:
            return v.isDouble();
        case ptBoolean:
            return v.isBool();
        case ptJson:
            return true;
        case ptStream:
            return v.isNull();
        }
        return false;
    }

    void Invoke(const httplib::Request& req, httplib::Response& res,
                const httplib::ContentReader& reader) {
        const QString name =
            QString::fromStdString(req.matches[1].str() + "." + req.matches[2].str());
        auto session = Authenticate(req, res);
        if (!session) {
            reader([](const char*, size_t) { return true; });
            return;
        }
        auto it = FMethods.find(name);
        if (it == FMethods.end()) {
            reader([](const char*, size_t) { return true; });
            Error(res, 404, QStringLiteral("Ismeretlen szervermetódus: %1.").arg(name));
            return;
        }
        const TMethod& method = it->second;
        TCall call;
        call.Session = session;
        const int streamIn = method.StreamIn();
        // Removes the received stream unless a method kept it.
        struct TTempFile {
            QString Name;
            ~TTempFile() {
                if (!Name.isEmpty())
                    QFile::remove(Name);
            }
        } temp;
        if (streamIn >= 0) {
            if (!DecodeHeaderArray(QByteArray::fromStdString(req.get_header_value(ParamsHeader)),
                                   call.In)) {
                reader([](const char*, size_t) { return true; });
                Error(res, 400, QStringLiteral("Hibás paraméterlista."));
                return;
            }
            temp.Name = FData + QStringLiteral("/tmp/") +
                        QUuid::createUuid().toString(QUuid::WithoutBraces);
            QFile file(temp.Name);
            if (!file.open(QIODevice::WriteOnly)) {
                reader([](const char*, size_t) { return true; });
                Error(res, 500, QStringLiteral("Átmeneti fájl nem hozható létre."));
                return;
            }
            QCryptographicHash md5(QCryptographicHash::Md5);
            bool ok = true;
            reader([&](const char* data, size_t n) {
                md5.addData(QByteArrayView(data, qsizetype(n)));
                ok = file.write(data, qint64(n)) == qint64(n);
                return ok;
            });
            file.close();
            if (!ok) {
                Error(res, 500, QStringLiteral("Az átküldött adatfolyam nem menthető."));
                return;
            }
            call.InStreamFile = temp.Name;
            call.InStreamSize = QFileInfo(temp.Name).size();
            call.InStreamMD5 = QString::fromLatin1(md5.result().toHex());
        } else {
            std::string body;
            reader([&](const char* data, size_t n) {
                body.append(data, n);
                return body.size() < 16 * 1024 * 1024;
            });
            const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(body));
            if (!doc.isArray()) {
                Error(res, 400, QStringLiteral("Hibás paraméterlista."));
                return;
            }
            call.In = doc.array();
        }
        if (call.In.size() != qsizetype(method.Params.size())) {
            Error(res, 400,
                  QStringLiteral("A(z) %1 metódus %2 paramétert vár, %3 érkezett.")
                      .arg(name)
                      .arg(method.Params.size())
                      .arg(call.In.size()));
            return;
        }
        for (size_t i = 0; i < method.Params.size(); ++i) {
            const TParamSpec& p = method.Params[i];
            if (p.Direction == pdIn && !TypeMatches(p.Type, call.In.at(qsizetype(i)))) {
                Error(res, 400,
                      QStringLiteral("A(z) %1 metódus %2. paramétere (%3) hibás típusú.")
                          .arg(name)
                          .arg(i)
                          .arg(QLatin1String(p.Name)));
                return;
            }
        }
        for (size_t i = 0; i < method.Params.size(); ++i)
            call.Out.append(QJsonValue());
        try {
            method.Run(call);
        } catch (const std::exception& e) {
            Log(QStringLiteral("%1 failed: %2").arg(name, QString::fromUtf8(e.what())));
            Error(res, 500, QString::fromUtf8(e.what()));
            return;
        }
        {
            std::lock_guard<std::mutex> guard(FLock);
            if (streamIn >= 0)
                session->Resources.push_back(std::make_shared<QString>(call.InStreamFile));
            if (call.OutStream)
                session->Resources.push_back(call.OutStream);
        }
        if (!call.OutStream) {
            Json(res, QJsonObject{{"result", call.Out}});
            return;
        }
        res.status = 200;
        res.set_header(ResultHeader, EncodeHeaderArray(call.Out).toStdString());
        std::shared_ptr<QFile> file = call.OutStream;
        const size_t size = size_t(file->size());
        res.set_content_provider(
            size, StreamType, [file](size_t offset, size_t length, httplib::DataSink& sink) {
                char buffer[65536];
                if (file->pos() != qint64(offset) && !file->seek(qint64(offset)))
                    return false;
                const qint64 n = file->read(buffer, qint64(std::min(length, sizeof buffer)));
                if (n <= 0)
                    return false;
                return sink.write(buffer, size_t(n));
            });
    }

    // ---- methods

    void Reg(const QString& name, std::vector<TParamSpec> params, std::function<void(TCall&)> run) {
        FMethods[name] = TMethod{std::move(params), std::move(run)};
    }

    // Runs catalogue work under the catalogue's lock, with what the disk holds.
    template <class F> void WithCatalogue(TCall& c, F&& work) {
        std::lock_guard<std::mutex> guard(FCatalogueLock);
        FCatalogue.Refresh();
        work(FCatalogue);
        (void)c;
    }

    void Changed(TCall& c) {
        bool deferred = false;
        {
            std::lock_guard<std::mutex> guard(FLock);
            deferred = c.Session->UpdateCount > 0;
        }
        FCatalogue.Changed(deferred);
    }

    QString DocumentPath(TCall& c, const QString& fileName) {
        QString rel = fileName;
        rel.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const QStringList parts = rel.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (parts.isEmpty() || rel.startsWith(QLatin1Char('/')) ||
            parts.contains(QStringLiteral("..")) || parts.contains(QStringLiteral(".")))
            Fail(QStringLiteral("Érvénytelen dokumentumnév: \"%1\".").arg(fileName));
        QString schema;
        {
            std::lock_guard<std::mutex> guard(FLock);
            schema = c.Session->Schema.isEmpty() ? QStringLiteral("common") : c.Session->Schema;
        }
        if (!IsPlainFileName(schema))
            Fail(QStringLiteral("Érvénytelen séma: \"%1\".").arg(schema));
        return FData + QStringLiteral("/documents/") + schema + QLatin1Char('/') +
               parts.join(QLatin1Char('/'));
    }

    static void MoveInto(const QString& temp, const QString& target) {
        QDir().mkpath(QFileInfo(target).path());
        QFile::remove(target);
        if (!QFile::rename(temp, target))
            Fail(
                QStringLiteral("A(z) \"%1\" fájl nem menthető.").arg(QFileInfo(target).fileName()));
    }

    static QString Lines(const QStringList& list) {
        QString text;
        for (const QString& s : list)
            text += s + QStringLiteral("\r\n");
        return text;
    }

    void RegisterMethods() {
        // Sessions.
        Reg("TSessionInfoServer.InitializeClient2", {In(ptText, "ASessionId")}, [this](TCall& c) {
            std::lock_guard<std::mutex> guard(FLock);
            c.Session->SshSessionId = c.Text(0);
        });
        Reg("TSessionInfoServer.InitializeClient", {In(ptText, "ADBSchema")}, [this](TCall& c) {
            std::lock_guard<std::mutex> guard(FLock);
            c.Session->Schema = c.Text(0).toUpper();
        });
        Reg("TSessionInfoServer.SetApplication",
            {In(ptText, "AApplication"), In(ptText, "AVersion")}, [this](TCall& c) {
                std::lock_guard<std::mutex> guard(FLock);
                c.Session->Application = c.Text(0);
                c.Session->Version = c.Text(1);
            });
        Reg("TSessionInfoServer.SetDocumentPath",
            {In(ptText, "AUserName"), In(ptText, "APassword"), In(ptText, "ADBchema")},
            [this](TCall& c) {
                std::lock_guard<std::mutex> guard(FLock);
                c.Session->DocumentUser = c.Text(0);
                c.Session->Schema = c.Text(2).toUpper();
            });
        Reg("TServerInfoServer.GetClients", {Res(ptJson)}, [this](TCall& c) {
            std::lock_guard<std::mutex> guard(FLock);
            QJsonArray list;
            int id = 1;
            for (const auto& [key, s] : FSessions) {
                QJsonObject fields{{"FId", s->Id},
                                   {"FPort", s->Port},
                                   {"FAddress", s->Address},
                                   {"FUserName", s->User},
                                   {"FVersion", s->Version},
                                   {"FStarted", ErrorTimeText(s->Started)},
                                   {"FApplication", s->Application},
                                   {"FLoginTries", 0}};
                list.append(QJsonObject{
                    {"type", "ServerClasses.TClient"}, {"id", id++}, {"fields", fields}});
            }
            if (FClientsAsObject)
                c.Set(0, QJsonObject{{"clients", list.size()}});
            else
                c.Set(0, list);
        });
        Reg("DSAdmin.ClearResources", {Res(ptBoolean)}, [this](TCall& c) {
            std::lock_guard<std::mutex> guard(FLock);
            c.Session->Resources.clear();
            c.Set(0, true);
        });

        // Documents.
        Reg("TDocumentServer.DownLoadFile",
            {In(ptText, "AFileName"), Out(ptInt64, "ASize"), Res(ptStream)}, [this](TCall& c) {
                const QString path = DocumentPath(c, c.Text(0));
                c.SetStream(2, path);
                c.Set(1, double(c.OutStream->size()));
            });
        Reg("TDocumentServer.UpLoadFile",
            {In(ptText, "AFileName"), In(ptInt64, "AFileSize"), In(ptStream, "AStream")},
            [this](TCall& c) {
                if (c.Int(1) != c.InStreamSize)
                    Fail(QStringLiteral("A feltöltött adat mérete (%1) eltér a megadottól (%2).")
                             .arg(c.InStreamSize)
                             .arg(c.Int(1)));
                MoveInto(c.InStreamFile, DocumentPath(c, c.Text(0)));
            });
        Reg("TDocumentServer.FileExists", {In(ptText, "AFileName"), Res(ptBoolean)},
            [this](TCall& c) { c.Set(1, QFileInfo(DocumentPath(c, c.Text(0))).isFile()); });
        Reg("TDocumentServer.CheckCreateFile", {In(ptText, "AFileName"), Res(ptBoolean)},
            [this](TCall& c) {
                const QString path = DocumentPath(c, c.Text(0));
                c.Set(1, QDir().mkpath(QFileInfo(path).path()));
            });

        // Error tickets.
        Reg("TErrorRiportServer.UpLoadFile", {In(ptText, "AFileName"), In(ptStream, "ASource")},
            [this](TCall& c) {
                if (!IsPlainFileName(c.Text(0)))
                    Fail(QStringLiteral("Érvénytelen hibajegy név: \"%1\".").arg(c.Text(0)));
                MoveInto(c.InStreamFile, FData + QStringLiteral("/tickets/") + c.Text(0));
                Log(QStringLiteral("ticket received: %1").arg(c.Text(0)));
            });
        Reg("TErrorRiportServer.DownLoadFile",
            {In(ptText, "AFileName"), Out(ptStream, "ADest"), Out(ptInt64, "ASize")},
            [this](TCall& c) {
                if (!IsPlainFileName(c.Text(0)))
                    Fail(QStringLiteral("Érvénytelen hibajegy név: \"%1\".").arg(c.Text(0)));
                c.SetStream(1, FData + QStringLiteral("/tickets/") + c.Text(0));
                c.Set(2, double(c.OutStream->size()));
            });
        Reg("TErrorRiportServer.ListOfErrorRiports", {Out(ptText, "FileNames")}, [this](TCall& c) {
            c.Set(0, Lines(QDir(FData + QStringLiteral("/tickets"))
                               .entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name)));
        });
        Reg("TErrorRiportServer.DeleteFile", {In(ptText, "AFileName")}, [this](TCall& c) {
            if (!IsPlainFileName(c.Text(0)))
                Fail(QStringLiteral("Érvénytelen hibajegy név: \"%1\".").arg(c.Text(0)));
            const QString path = FData + QStringLiteral("/tickets/") + c.Text(0);
            if (QFileInfo::exists(path) && !QFile::remove(path))
                Fail(QStringLiteral("A(z) \"%1\" hibajegy nem törölhető.").arg(c.Text(0)));
        });

        RegisterPackageMethods();
    }

    void RegisterPackageMethods() {
        const TParamSpec name = In(ptText, "AName");
        const TParamSpec version = In(ptText, "AVersion");
        const TParamSpec file = In(ptText, "AFileName");

        Reg("TPackagesServer.BeginUpdate", {}, [this](TCall& c) {
            std::lock_guard<std::mutex> guard(FLock);
            ++c.Session->UpdateCount;
            ++FCatalogueUpdates;
        });
        Reg("TPackagesServer.EndUpdate", {}, [this](TCall& c) {
            bool save = false;
            {
                std::lock_guard<std::mutex> guard(FLock);
                if (c.Session->UpdateCount > 0) {
                    --c.Session->UpdateCount;
                    --FCatalogueUpdates;
                }
                save = c.Session->UpdateCount == 0;
            }
            if (save)
                WithCatalogue(c, [](TCatalogue& cat) { cat.Save(); });
        });
        Reg("TPackagesServer.Load", {}, [this](TCall& c) {
            std::lock_guard<std::mutex> guard(FCatalogueLock);
            (void)c;
            FCatalogue.Load();
        });
        Reg("TPackagesServer.Save", {},
            [this](TCall& c) { WithCatalogue(c, [](TCatalogue& cat) { cat.Save(); }); });
        Reg("TPackagesServer.GetPackageNames", {Res(ptText)}, [this](TCall& c) {
            WithCatalogue(c, [&](TCatalogue& cat) {
                QStringList names;
                for (const TPackageRec& p : cat.Packages()) {
                    if (!names.contains(p.Name))
                        names << p.Name;
                }
                names.sort();
                c.Set(0, Lines(names));
            });
        });
        Reg("TPackagesServer.GetPackageVersion", {name, Res(ptText)}, [this](TCall& c) {
            WithCatalogue(c, [&](TCatalogue& cat) {
                QString best;
                for (const TPackageRec& p : cat.Packages()) {
                    if (p.Name == c.Text(0) && CompareVersions(best, p.Version) < 0)
                        best = p.Version;
                }
                c.Set(1, best);
            });
        });
        Reg("TPackagesServer.CreatePackage", {name, version}, [this](TCall& c) {
            WithCatalogue(c, [&](TCatalogue& cat) {
                if (c.Text(0).isEmpty() || c.Text(1).isEmpty())
                    Fail(QStringLiteral("A csomag neve és verziója nem lehet üres."));
                if (cat.Find(c.Text(0), c.Text(1)) != nullptr)
                    Fail(QStringLiteral("Már van \"%1\" nevű, %2 verziójú csomag.")
                             .arg(c.Text(0), c.Text(1)));
                TPackageRec p;
                p.Name = c.Text(0);
                p.Version = c.Text(1);
                cat.Packages().push_back(p);
                Changed(c);
            });
        });
        auto deletePackage = [this](TCall& c) {
            WithCatalogue(c, [&](TCatalogue& cat) {
                cat.Get(c.Text(0), c.Text(1));
                QDir(cat.PackageFolder(c.Text(0), c.Text(1))).removeRecursively();
                auto& list = cat.Packages();
                list.erase(std::remove_if(list.begin(), list.end(),
                                          [&](const TPackageRec& p) {
                                              return p.Name == c.Text(0) && p.Version == c.Text(1);
                                          }),
                           list.end());
                Changed(c);
            });
        };
        Reg("TPackagesServer.DeletePackage", {name, version}, deletePackage);
        Reg("TPackagesServer.Remove", {name, version}, deletePackage);
        Reg("TPackagesServer.GetPackageDescription", {name, version, Res(ptText)},
            [this](TCall& c) {
                WithCatalogue(c, [&](TCatalogue& cat) {
                    c.Set(2, cat.Get(c.Text(0), c.Text(1)).Description);
                });
            });
        Reg("TPackagesServer.SetPackageDescription", {name, version, In(ptText, "ADescription")},
            [this](TCall& c) {
                WithCatalogue(c, [&](TCatalogue& cat) {
                    cat.Get(c.Text(0), c.Text(1)).Description = c.Text(2);
                    Changed(c);
                });
            });
        Reg("TPackagesServer.SetPackageVersion",
            {name, In(ptText, "AOldVersion"), In(ptText, "ANewVersion")}, [this](TCall& c) {
                WithCatalogue(c, [&](TCatalogue& cat) {
                    TPackageRec& p = cat.Get(c.Text(0), c.Text(1));
                    if (c.Text(1) == c.Text(2))
                        return;
                    if (c.Text(2).isEmpty() || cat.Find(c.Text(0), c.Text(2)) != nullptr)
                        Fail(QStringLiteral("A(z) %1 csomag nem kaphatja a(z) \"%2\" verziót.")
                                 .arg(c.Text(0), c.Text(2)));
                    const QString from = cat.PackageFolder(c.Text(0), c.Text(1));
                    const QString to = cat.PackageFolder(c.Text(0), c.Text(2));
                    if (QFileInfo::exists(from) && !QDir().rename(from, to))
                        Fail(QStringLiteral("A csomag fájljai nem nevezhetők át."));
                    p.Version = c.Text(2);
                    Changed(c);
                });
            });
        auto dateGetter = [this](bool deploy) {
            return [this, deploy](TCall& c) {
                WithCatalogue(c, [&](TCatalogue& cat) {
                    const TPackageRec& p = cat.Get(c.Text(0), c.Text(1));
                    c.Set(2, deploy ? p.DeployDate : p.UpdateDate);
                });
            };
        };
        auto dateSetter = [this](bool deploy) {
            return [this, deploy](TCall& c) {
                WithCatalogue(c, [&](TCatalogue& cat) {
                    TPackageRec& p = cat.Get(c.Text(0), c.Text(1));
                    (deploy ? p.DeployDate : p.UpdateDate) = c.Date(2);
                    Changed(c);
                });
            };
        };
        Reg("TPackagesServer.GetPackageDeployDate", {name, version, Res(ptDateTime)},
            dateGetter(true));
        Reg("TPackagesServer.SetPackageDeployDate", {name, version, In(ptDateTime, "ADeployDate")},
            dateSetter(true));
        Reg("TPackagesServer.GetPackageUpdateDate", {name, version, Res(ptDateTime)},
            dateGetter(false));
        Reg("TPackagesServer.SetPackageUpdateDate", {name, version, In(ptDateTime, "AUpdateDate")},
            dateSetter(false));
        Reg("TPackagesServer.GetFileNames", {name, version, Res(ptText)}, [this](TCall& c) {
            WithCatalogue(c, [&](TCatalogue& cat) {
                QStringList names;
                for (const TFileRec& f : cat.Get(c.Text(0), c.Text(1)).Files)
                    names << f.Name;
                c.Set(2, Lines(names));
            });
        });
        Reg("TPackagesServer.CreateFile", {name, version, file}, [this](TCall& c) {
            WithCatalogue(c, [&](TCatalogue& cat) {
                TPackageRec& p = cat.Get(c.Text(0), c.Text(1));
                cat.ContentPath(p, c.Text(2));
                if (TCatalogue::FindFile(p, c.Text(2)) != nullptr)
                    Fail(QStringLiteral("A(z) \"%1\" fájl már a csomag része.").arg(c.Text(2)));
                p.Files.push_back({c.Text(2), QString(), QString(), QString()});
                Changed(c);
            });
        });
        Reg("TPackagesServer.DeleteFile", {name, version, file}, [this](TCall& c) {
            WithCatalogue(c, [&](TCatalogue& cat) {
                TPackageRec& p = cat.Get(c.Text(0), c.Text(1));
                TCatalogue::GetFile(p, c.Text(2));
                QFile::remove(cat.ContentPath(p, c.Text(2)));
                p.Files.erase(
                    std::remove_if(p.Files.begin(), p.Files.end(),
                                   [&](const TFileRec& f) { return f.Name == c.Text(2); }),
                    p.Files.end());
                Changed(c);
            });
        });
        auto fileGetter = [this](QString TFileRec::*member) {
            return [this, member](TCall& c) {
                WithCatalogue(c, [&](TCatalogue& cat) {
                    TPackageRec& p = cat.Get(c.Text(0), c.Text(1));
                    c.Set(3, TCatalogue::GetFile(p, c.Text(2)).*member);
                });
            };
        };
        auto fileSetter = [this](QString TFileRec::*member) {
            return [this, member](TCall& c) {
                WithCatalogue(c, [&](TCatalogue& cat) {
                    TPackageRec& p = cat.Get(c.Text(0), c.Text(1));
                    TCatalogue::GetFile(p, c.Text(2)).*member = c.Text(3);
                    Changed(c);
                });
            };
        };
        Reg("TPackagesServer.GetFileFolderName", {name, version, file, Res(ptText)},
            fileGetter(&TFileRec::Folder));
        Reg("TPackagesServer.SetFileFolderName", {name, version, file, In(ptText, "AFolderName")},
            fileSetter(&TFileRec::Folder));
        Reg("TPackagesServer.GetFileMD5Hash", {name, version, file, Res(ptText)},
            fileGetter(&TFileRec::MD5));
        Reg("TPackagesServer.SetFileMD5Hash", {name, version, file, In(ptText, "AMD5Hash")},
            fileSetter(&TFileRec::MD5));
        Reg("TPackagesServer.GetFileDescription", {name, version, file, Res(ptText)},
            fileGetter(&TFileRec::Description));
        Reg("TPackagesServer.SetFileDescription", {name, version, file, In(ptText, "ADescription")},
            fileSetter(&TFileRec::Description));
        Reg("TPackagesServer.Update", {name, In(ptText, "AOldVersion"), In(ptText, "ANewVersion")},
            [this](TCall& c) {
                // A new version made from the old one, files included.
                WithCatalogue(c, [&](TCatalogue& cat) {
                    TPackageRec copy = cat.Get(c.Text(0), c.Text(1));
                    if (c.Text(2).isEmpty() || cat.Find(c.Text(0), c.Text(2)) != nullptr)
                        Fail(QStringLiteral("A(z) %1 csomag nem kaphatja a(z) \"%2\" verziót.")
                                 .arg(c.Text(0), c.Text(2)));
                    const QString from = cat.PackageFolder(c.Text(0), c.Text(1));
                    const QString to = cat.PackageFolder(c.Text(0), c.Text(2));
                    QDir().mkpath(to);
                    for (const TFileRec& f : copy.Files)
                        QFile::copy(from + QLatin1Char('/') + f.Name,
                                    to + QLatin1Char('/') + f.Name);
                    copy.Version = c.Text(2);
                    copy.UpdateDate = ToDateTime(QDateTime::currentDateTime());
                    cat.Packages().push_back(copy);
                    Changed(c);
                });
            });
        Reg("TPackagesServer.Install", {name, version}, [this](TCall& c) {
            WithCatalogue(c, [&](TCatalogue& cat) {
                TPackageRec& p = cat.Get(c.Text(0), c.Text(1));
                const double now = ToDateTime(QDateTime::currentDateTime());
                if (p.DeployDate == 0)
                    p.DeployDate = now;
                p.UpdateDate = now;
                Changed(c);
            });
        });
        Reg("TPackagesServer.UpLoadFile", {name, version, file, In(ptStream, "ASource")},
            [this](TCall& c) {
                WithCatalogue(c, [&](TCatalogue& cat) {
                    TPackageRec& p = cat.Get(c.Text(0), c.Text(1));
                    const QString target = cat.ContentPath(p, c.Text(2));
                    TFileRec* f = TCatalogue::FindFile(p, c.Text(2));
                    if (f == nullptr) {
                        p.Files.push_back({c.Text(2), QString(), QString(), QString()});
                        f = &p.Files.back();
                    }
                    MoveInto(c.InStreamFile, target);
                    f->MD5 = c.InStreamMD5;
                    Changed(c);
                });
            });
        Reg("TPackagesServer.DownLoadFile",
            {name, version, file, Out(ptStream, "ADest"), Out(ptInt64, "ASize")}, [this](TCall& c) {
                WithCatalogue(c, [&](TCatalogue& cat) {
                    TPackageRec& p = cat.Get(c.Text(0), c.Text(1));
                    TCatalogue::GetFile(p, c.Text(2));
                    const QString path = cat.ContentPath(p, c.Text(2));
                    if (!QFileInfo::exists(path))
                        Fail(QStringLiteral("A(z) \"%1\" fájl tartalma nincs feltöltve.")
                                 .arg(c.Text(2)));
                    c.SetStream(3, path);
                    c.Set(4, double(c.OutStream->size()));
                });
            });
    }

    QString FData;
    std::map<QString, QString> FDb;
    httplib::Server FServer;
    std::map<QString, TMethod> FMethods;
    std::mutex FLock; // sessions
    std::map<QString, std::shared_ptr<TSession>> FSessions;
    int FCatalogueUpdates = 0;
    std::atomic<bool> FClientsAsObject{false};
    std::mutex FCatalogueLock;
    TCatalogue FCatalogue;
};

// ---- publishing a package from a folder

int Publish(const QString& dataDir, const QString& name, const QString& version,
            const QString& from, const QString& description) {
    if (name.isEmpty() || version.isEmpty() || !QFileInfo(from).isDir()) {
        std::fprintf(stderr, "publish: --name, --version and an existing --from folder needed\n");
        return 2;
    }
    TCatalogue cat(dataDir + QStringLiteral("/packages"));
    TFileLock lock(cat.LockName(), LOCK_EX);
    cat.LoadUnlocked();
    TPackageRec p;
    p.Name = name;
    p.Version = version;
    p.Description = description;
    p.DeployDate = ToDateTime(QDateTime::currentDateTime());
    p.UpdateDate = p.DeployDate;
    const QString folder = cat.PackageFolder(name, version) + QStringLiteral(".new");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    QDir base(from);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        if (TCatalogue::FindFile(p, info.fileName()) != nullptr) {
            std::fprintf(stderr, "publish: two files named %s\n", qPrintable(info.fileName()));
            QDir(folder).removeRecursively();
            return 1;
        }
        QString sub = QFileInfo(base.relativeFilePath(path)).path();
        if (sub == QLatin1String("."))
            sub.clear();
        sub.replace(QLatin1Char('/'), QLatin1Char('\\'));
        QFile in(path);
        if (!in.open(QIODevice::ReadOnly) || !QFile::copy(path, folder + "/" + info.fileName())) {
            std::fprintf(stderr, "publish: cannot copy %s\n", qPrintable(path));
            QDir(folder).removeRecursively();
            return 1;
        }
        QCryptographicHash md5(QCryptographicHash::Md5);
        md5.addData(&in);
        p.Files.push_back(
            {info.fileName(), sub, QString::fromLatin1(md5.result().toHex()), QString()});
    }
    const QString target = cat.PackageFolder(name, version);
    QDir(target).removeRecursively();
    if (!QDir().rename(folder, target)) {
        std::fprintf(stderr, "publish: cannot move the files into place\n");
        return 1;
    }
    auto& list = cat.Packages();
    list.erase(std::remove_if(
                   list.begin(), list.end(),
                   [&](const TPackageRec& r) { return r.Name == name && r.Version == version; }),
               list.end());
    list.push_back(p);
    cat.SaveUnlocked();
    std::printf("published %s %s: %zu files\n", qPrintable(name), qPrintable(version),
                p.Files.size());
    return 0;
}

std::map<QString, QString> ReadEnvFile(const QString& fileName) {
    std::map<QString, QString> values;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return values;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            values[line.left(eq)] = line.mid(eq + 1);
    }
    return values;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    std::map<QString, QString> opt;
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (!args[i].startsWith(QStringLiteral("--"))) {
            std::fprintf(stderr, "unexpected argument %s\n", qPrintable(args[i]));
            return 2;
        }
        opt[args[i].mid(2)] = args[i + 1];
    }
    if (command == QLatin1String("publish"))
        return Publish(opt["data"], opt["name"], opt["version"], opt["from"], opt["description"]);
    if (command != QLatin1String("serve")) {
        std::fprintf(stderr, "usage: tv_appserver serve --env FILE --port PORT --data DIR\n"
                             "       tv_appserver publish --data DIR --name NAME --version V "
                             "--from FOLDER [--description TEXT]\n");
        return 2;
    }
    std::map<QString, QString> db = ReadEnvFile(opt["env"]);
    for (const char* key : {"TV_DB_HOST", "TV_DB_PORT", "TV_DB_SERVICE"}) {
        if (db[key].isEmpty()) {
            std::fprintf(stderr, "appserver: %s missing from the environment file %s\n", key,
                         qPrintable(opt["env"]));
            return 2;
        }
    }
    // Termination signals are taken by a thread of their own, which stops the
    // server; every other thread has them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    TAppServer server(opt["data"], db);
    std::thread waiter([&server, stopSignals] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        server.Stop();
    });
    waiter.detach();
    const int port = opt["port"].toInt();
    Log(QStringLiteral("listening on 127.0.0.1:%1").arg(port));
    if (!server.Listen(port)) {
        std::fprintf(stderr, "appserver: cannot listen on port %d\n", port);
        return 1;
    }
    return 0;
}
