#include "Platform/DataSnap/DSConnection.h"

#include "Platform/Runtime/MainThread.h"

#include <httplib.h>

#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>

#include <QCoreApplication>
#include <QScopeGuard>

#include <chrono>
#include <exception>
#include <thread>

using namespace DSProtocol;

namespace {

httplib::Headers ToHeaders(const std::multimap<std::string, std::string>& list) {
    httplib::Headers headers;
    for (const auto& [key, value] : list)
        headers.emplace(key, value);
    return headers;
}

QString ErrorText(httplib::Error error) {
    switch (error) {
    case httplib::Error::Connection:
        return QStringLiteral("Connection refused or host unreachable");
    case httplib::Error::ConnectionTimeout:
        return QStringLiteral("Connection timed out");
    case httplib::Error::Read:
        return QStringLiteral("Connection Closed Gracefully.");
    case httplib::Error::Write:
        return QStringLiteral("Connection reset by peer");
    default:
        return QString::fromStdString(httplib::to_string(error));
    }
}

} // namespace

// ---- TDSConnection

TDSConnection::TDSConnection() = default;

TDSConnection::~TDSConnection() {
    OnAfterDisconnect = nullptr;
    Close();
}

std::unique_ptr<httplib::Client> TDSConnection::MakeClient() const {
    auto client = std::make_unique<httplib::Client>(HostName.toStdString(), int(Port));
    client->set_keep_alive(true);
    // Headers and body go out in separate writes: without this each call
    // waits for the peer's delayed acknowledgement.
    client->set_tcp_nodelay(true);
    client->set_connection_timeout(ConnectTimeout, 0);
    client->set_read_timeout(ReadTimeout, 0);
    client->set_write_timeout(ReadTimeout, 0);
    return client;
}

std::multimap<std::string, std::string> TDSConnection::Headers(bool withSession) const {
    std::multimap<std::string, std::string> headers;
    headers.emplace("Authorization", BasicAuthorization(FUser, FPassword).toStdString());
    if (withSession) {
        std::lock_guard<std::mutex> guard(FStateLock);
        headers.emplace(SessionHeader, FSessionId.toStdString());
    }
    return headers;
}

namespace {
qint64 SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

namespace {

// Takes the connection's exchange lock. Another thread's exchange may need
// the main thread (progress windows), so the main thread keeps processing
// its events while it waits.
class TExchangeLock {
public:
    explicit TExchangeLock(std::recursive_mutex& lock) : FLock(lock) {
        if (!IsMainThread()) {
            FLock.lock();
            return;
        }
        while (!FLock.try_lock()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~TExchangeLock() { FLock.unlock(); }
    TExchangeLock(const TExchangeLock&) = delete;
    TExchangeLock& operator=(const TExchangeLock&) = delete;

private:
    std::recursive_mutex& FLock;
};

} // namespace

httplib::Client& TDSConnection::Client() {
    if (!FOpen || !FClient)
        throw EDSSocketError(QStringLiteral("Not connected to the application server."));
    if (SteadyMs() - FLastUse > IdleReconnectMs)
        FClient->stop();
    return *FClient;
}

void TDSConnection::Used() {
    FLastUse = SteadyMs();
}

void TDSConnection::Open() {
    TExchangeLock guard(FLock);
    if (FOpen)
        return;
    FClient = MakeClient();
    FUser = User;
    FPassword = Password;
    FDescriptions.clear();
    httplib::Result res =
        FClient->Post(ConnectPath, ToHeaders(Headers(false)), std::string(), JsonType);
    if (!res) {
        FClient.reset();
        throw EDSSocketError(QStringLiteral("Socket Error: %1 (%2:%3).")
                                 .arg(ErrorText(res.error()), HostName)
                                 .arg(Port));
    }
    if (res->status != 200) {
        FClient.reset();
        RaiseReplyError(res->status, QByteArray::fromStdString(res->body));
    }
    const QJsonObject reply =
        QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
    const QString session = reply.value(QStringLiteral("session")).toString();
    if (session.isEmpty()) {
        FClient.reset();
        throw EDSError(QStringLiteral("The application server did not open a session."));
    }
    {
        std::lock_guard<std::mutex> state(FStateLock);
        FSessionId = session;
    }
    Used();
    FOpen = true;
}

void TDSConnection::Close() {
    TExchangeLock guard(FLock);
    if (FOpen && FClient) {
        // Ending the session is a courtesy: the server forgets idle ones too.
        FClient->set_read_timeout(5, 0);
        FClient->Post(DisconnectPath, ToHeaders(Headers(true)), std::string(), JsonType);
    }
    FOpen = false;
    FClient.reset();
    std::lock_guard<std::mutex> state(FStateLock);
    FSessionId.clear();
}

bool TDSConnection::Connected() const {
    return FOpen;
}

QString TDSConnection::SessionId() const {
    std::lock_guard<std::mutex> guard(FStateLock);
    return FSessionId;
}

void TDSConnection::Dropped() {
    const bool wasOpen = FOpen.exchange(false);
    if (FClient)
        FClient->stop();
    if (wasOpen && OnAfterDisconnect)
        OnAfterDisconnect();
}

void TDSConnection::RaiseTransportError(int error, const QString& what) {
    const auto err = httplib::Error(error);
    Dropped();
    if (err == httplib::Error::Read)
        throw EDSConnClosedGracefully(ErrorText(err));
    throw EDSSocketError(QStringLiteral("Socket Error: %1 (%2).").arg(ErrorText(err), what));
}

void TDSConnection::RaiseReplyError(int status, const QByteArray& body) {
    const QJsonObject reply = QJsonDocument::fromJson(body).object();
    QString message = reply.value(QStringLiteral("error")).toString();
    const QString cls = reply.value(QStringLiteral("class")).toString();
    if (message.isEmpty())
        message = QStringLiteral("The application server answered HTTP %1.").arg(status);
    if (status == 401 && cls == QLatin1String("TDSSessionClosed")) {
        Dropped();
        throw EDSConnClosedGracefully(message);
    }
    if (status == 401)
        throw EDSAuthenticationError(message);
    throw EDSServerError(message);
}

std::vector<TDSParamInfo> TDSConnection::Describe(const QString& methodName) {
    TExchangeLock guard(FLock);
    auto found = FDescriptions.find(methodName);
    if (found != FDescriptions.end())
        return found->second;
    const qsizetype dot = methodName.indexOf(QLatin1Char('.'));
    TV_ASSERT(dot > 0);
    const std::string path = std::string(DescribePrefix) + methodName.left(dot).toStdString() +
                             "/" + methodName.mid(dot + 1).toStdString();
    httplib::Result res = Client().Get(path, ToHeaders(Headers(true)));
    Used();
    if (!res)
        RaiseTransportError(int(res.error()), methodName);
    if (res->status != 200)
        RaiseReplyError(res->status, QByteArray::fromStdString(res->body));
    std::vector<TDSParamInfo> params;
    const QJsonObject reply =
        QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
    for (const QJsonValue& v : reply.value(QStringLiteral("params")).toArray()) {
        const QJsonObject o = v.toObject();
        TDSParamInfo info;
        info.Name = o.value(QStringLiteral("name")).toString();
        if (!ParseDirection(o.value(QStringLiteral("direction")).toString(), info.Direction) ||
            !ParseType(o.value(QStringLiteral("type")).toString(), info.Type))
            throw EDSError(QStringLiteral("Unknown parameter kind in %1.").arg(methodName));
        params.push_back(info);
    }
    FDescriptions[methodName] = params;
    return params;
}

int TDSConnection::ServerResourceCount() {
    TExchangeLock guard(FLock);
    httplib::Result res = Client().Get(ResourcesPath, ToHeaders(Headers(true)));
    Used();
    if (!res)
        RaiseTransportError(int(res.error()), QStringLiteral("resources"));
    if (res->status != 200)
        RaiseReplyError(res->status, QByteArray::fromStdString(res->body));
    return QJsonDocument::fromJson(QByteArray::fromStdString(res->body))
        .object()
        .value(QStringLiteral("resources"))
        .toInt();
}

// ---- TDSServerMethod

TDSServerMethod::TDSServerMethod(TDSConnection& connection, const QString& methodName)
    : FConnection(connection), FMethodName(methodName) {}

TDSServerMethod::~TDSServerMethod() = default;

void TDSServerMethod::Prepare() {
    FParams = FConnection.Describe(FMethodName);
    FIn = QJsonArray();
    for (size_t i = 0; i < FParams.size(); ++i)
        FIn.append(QJsonValue());
    FPrepared = true;
}

const TDSParamInfo& TDSServerMethod::Param(int index) const {
    TV_ASSERT(index >= 0 && index < ParamCount());
    return FParams[size_t(index)];
}

void TDSServerMethod::Check(int index, TParamType type, bool input) const {
    TV_ASSERT(FPrepared);
    const TDSParamInfo& p = Param(index);
    TV_ASSERT(p.Type == type);
    TV_ASSERT((p.Direction == pdIn) == input);
}

void TDSServerMethod::SetText(int index, const QString& value) {
    Check(index, ptText, true);
    FIn[index] = value;
}

void TDSServerMethod::SetInt64(int index, qint64 value) {
    Check(index, ptInt64, true);
    FIn[index] = double(value);
}

void TDSServerMethod::SetBoolean(int index, bool value) {
    Check(index, ptBoolean, true);
    FIn[index] = value;
}

void TDSServerMethod::SetDateTime(int index, double value) {
    Check(index, ptDateTime, true);
    FIn[index] = value;
}

void TDSServerMethod::SetJson(int index, const QJsonValue& value) {
    Check(index, ptJson, true);
    FIn[index] = value;
}

void TDSServerMethod::SetStream(int index, QIODevice* source, qint64 size) {
    Check(index, ptStream, true);
    TV_ASSERT(source != nullptr && size >= 0);
    FStreamSource = source;
    FStreamSize = size;
}

void TDSServerMethod::SetStreamSink(int index, IDSStreamSink* sink) {
    Check(index, ptStream, false);
    FSink = sink;
}

QString TDSServerMethod::Path() const {
    const qsizetype dot = FMethodName.indexOf(QLatin1Char('.'));
    return QString::fromLatin1(RestPrefix) + FMethodName.left(dot) + QLatin1Char('/') +
           FMethodName.mid(dot + 1);
}

void TDSServerMethod::Execute() {
    TV_ASSERT(FPrepared);
    bool streamOut = false;
    for (const TDSParamInfo& p : FParams) {
        if (p.Type == ptStream && p.Direction != pdIn)
            streamOut = true;
        if (p.Type == ptStream && p.Direction == pdIn)
            TV_ASSERT(FStreamSource != nullptr);
    }
    TExchangeLock guard(FConnection.FLock);
    httplib::Client& client = FConnection.Client();
    auto used = qScopeGuard([this] { FConnection.Used(); });
    httplib::Headers headers = ToHeaders(FConnection.Headers(true));
    const std::string path = Path().toStdString();
    std::exception_ptr failure;
    httplib::Result res(nullptr, httplib::Error::Unknown);
    FOut = QJsonArray();
    FStreamBytes.clear();

    if (FStreamSource != nullptr) {
        // The stream is the body; the other parameters ride in a header.
        headers.emplace(ParamsHeader, EncodeHeaderArray(FIn).toStdString());
        if (!FStreamSource->isSequential())
            FStreamSource->seek(0);
        QIODevice* source = FStreamSource;
        res = client.Post(
            path, headers, size_t(FStreamSize),
            [source, &failure](size_t, size_t length, httplib::DataSink& sink) {
                try {
                    char buffer[16384];
                    const qint64 n = source->read(buffer, qint64(qMin(length, sizeof buffer)));
                    if (n <= 0)
                        throw EDSError(QStringLiteral("The stream ended before its size."));
                    return sink.write(buffer, size_t(n));
                } catch (...) {
                    failure = std::current_exception();
                    return false;
                }
            },
            StreamType);
    } else if (!streamOut) {
        res =
            client.Post(path, headers,
                        QJsonDocument(FIn).toJson(QJsonDocument::Compact).toStdString(), JsonType);
    } else {
        httplib::Request req;
        req.method = "POST";
        req.path = path;
        req.headers = headers;
        req.headers.emplace("Content-Type", JsonType);
        req.body = QJsonDocument(FIn).toJson(QJsonDocument::Compact).toStdString();
        int status = 0;
        QByteArray errorBody;
        req.response_handler = [&](const httplib::Response& r) {
            status = r.status;
            if (status != 200)
                return true;
            try {
                if (!DecodeHeaderArray(QByteArray::fromStdString(r.get_header_value(ResultHeader)),
                                       FOut))
                    throw EDSError(QStringLiteral("Malformed reply of %1.").arg(FMethodName));
                const qint64 size =
                    qint64(std::stoll(r.get_header_value("Content-Length", 0).empty()
                                          ? std::string("0")
                                          : r.get_header_value("Content-Length")));
                if (FSink != nullptr)
                    FSink->BeginStream(size, FOut);
                return true;
            } catch (...) {
                failure = std::current_exception();
                return false;
            }
        };
        req.content_receiver = [&](const char* data, size_t n, uint64_t, uint64_t) {
            if (status != 200) {
                errorBody.append(data, qsizetype(n));
                return true;
            }
            try {
                if (FSink != nullptr)
                    FSink->WriteStream(data, qint64(n));
                else
                    FStreamBytes.append(data, qsizetype(n));
                return true;
            } catch (...) {
                failure = std::current_exception();
                return false;
            }
        };
        res = client.send(req);
        if (failure)
            std::rethrow_exception(failure);
        if (!res)
            FConnection.RaiseTransportError(int(res.error()), FMethodName);
        if (status != 200)
            FConnection.RaiseReplyError(status, errorBody);
        if (FSink != nullptr)
            FSink->EndStream();
        return;
    }
    if (failure)
        std::rethrow_exception(failure);
    if (!res)
        FConnection.RaiseTransportError(int(res.error()), FMethodName);
    if (res->status != 200)
        FConnection.RaiseReplyError(res->status, QByteArray::fromStdString(res->body));
    const QJsonObject reply =
        QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
    FOut = reply.value(QStringLiteral("result")).toArray();
    if (FOut.size() != qsizetype(FParams.size()))
        throw EDSError(QStringLiteral("Malformed reply of %1.").arg(FMethodName));
}

QString TDSServerMethod::GetText(int index) const {
    Check(index, ptText, false);
    return FOut.at(index).toString();
}

qint64 TDSServerMethod::GetInt64(int index) const {
    Check(index, ptInt64, false);
    return qint64(FOut.at(index).toDouble());
}

bool TDSServerMethod::GetBoolean(int index) const {
    Check(index, ptBoolean, false);
    return FOut.at(index).toBool();
}

double TDSServerMethod::GetDateTime(int index) const {
    Check(index, ptDateTime, false);
    return FOut.at(index).toDouble();
}

QJsonValue TDSServerMethod::GetJson(int index) const {
    Check(index, ptJson, false);
    return FOut.at(index);
}

QByteArray TDSServerMethod::GetStreamBytes(int index) const {
    Check(index, ptStream, false);
    return FStreamBytes;
}
