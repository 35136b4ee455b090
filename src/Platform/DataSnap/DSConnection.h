#pragma once

// Our remote-method library: a connection to the application server and the
// server-method commands made on it, over HTTP/1.1 with JSON (the wire format
// is described in refenv/appserver/PROTOCOL.md).

#include "Platform/DataSnap/DSProtocol.h"
#include "Platform/Runtime/Exception.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

class QIODevice;
namespace httplib {
class Client;
}

// Errors of the remote-method library.
TV_DECLARE_EXCEPTION(EDSError, Exception);
// The server raised an error in the method; the message is the server's.
TV_DECLARE_EXCEPTION(EDSServerError, EDSError);
// The server refused the user name or password.
TV_DECLARE_EXCEPTION(EDSAuthenticationError, EDSServerError);
// The network failed: the server cannot be reached, the link broke, a time-out.
TV_DECLARE_EXCEPTION(EDSSocketError, EDSError);
// The server closed the connection (or forgot the session) in the middle.
TV_DECLARE_EXCEPTION(EDSConnClosedGracefully, EDSError);

// One parameter of a server method as the server describes it.
struct TDSParamInfo {
    QString Name;
    DSProtocol::TParamDirection Direction = DSProtocol::pdIn;
    DSProtocol::TParamType Type = DSProtocol::ptText;
};

class TDSConnection {
public:
    TDSConnection();
    ~TDSConnection();
    TDSConnection(const TDSConnection&) = delete;
    TDSConnection& operator=(const TDSConnection&) = delete;

    // Connection parameters; take effect at the next Open.
    QString HostName = QStringLiteral("localhost");
    uint16_t Port = 212;
    QString User;
    QString Password;
    int ConnectTimeout = 15; // seconds
    int ReadTimeout = 120;   // seconds without a byte moving
    // A connection idle for longer is made anew before the next call (the
    // server closes idle connections after a minute).
    int IdleReconnectMs = 20000;

    // Logs in and opens a session. A refused login raises
    // EDSAuthenticationError, an unreachable server EDSSocketError.
    void Open();
    // Ends the session; never raises.
    void Close();
    bool Connected() const;
    QString SessionId() const;

    // Runs when an open connection breaks by itself (a socket error or the
    // server closing it), on the thread that noticed; not after Close.
    std::function<void()> OnAfterDisconnect;

    // The parameters of a server method (asked once per session).
    std::vector<TDSParamInfo> Describe(const QString& methodName);
    // Number of resources the server holds for this session.
    int ServerResourceCount();

private:
    friend class TDSServerMethod;
    struct TReply {
        int Status = 0;
        QByteArray Body;
    };
    std::unique_ptr<httplib::Client> MakeClient() const;
    std::multimap<std::string, std::string> Headers(bool withSession) const;
    [[noreturn]] void RaiseTransportError(int error, const QString& what);
    [[noreturn]] void RaiseReplyError(int status, const QByteArray& body);
    void Dropped();
    // The client for the next exchange. A connection idle for a while is
    // made anew: the server may have closed it meanwhile, and a closed one
    // must not look like a dropped link.
    httplib::Client& Client();
    void Used();

    // Serialises the exchanges on the one connection.
    mutable std::recursive_mutex FLock;
    std::unique_ptr<httplib::Client> FClient;
    std::atomic<bool> FOpen{false};
    qint64 FLastUse = 0; // steady clock, milliseconds
    mutable std::mutex FStateLock;
    QString FSessionId;
    QString FUser;
    QString FPassword;
    std::map<QString, std::vector<TDSParamInfo>> FDescriptions;
};

// Receives a stream that a server method returns, while it arrives.
class IDSStreamSink {
public:
    virtual ~IDSStreamSink() = default;
    // Before the first byte; AOut holds the other out-parameters and the result.
    virtual void BeginStream(qint64 size, const QJsonArray& out) = 0;
    virtual void WriteStream(const char* data, qint64 size) = 0;
    // After the last byte.
    virtual void EndStream() {}
};

// A command of the type "DataSnap.ServerMethod": one call of a server method.
class TDSServerMethod {
public:
    TDSServerMethod(TDSConnection& connection, const QString& methodName);
    ~TDSServerMethod();
    TDSServerMethod(const TDSServerMethod&) = delete;
    TDSServerMethod& operator=(const TDSServerMethod&) = delete;

    // Asks the server for the method's parameters.
    void Prepare();
    int ParamCount() const { return int(FParams.size()); }
    const TDSParamInfo& Param(int index) const;

    void SetText(int index, const QString& value);
    void SetInt64(int index, qint64 value);
    void SetBoolean(int index, bool value);
    void SetDateTime(int index, double value);
    void SetJson(int index, const QJsonValue& value);
    // The stream is read from its start; ASize bytes are sent.
    void SetStream(int index, QIODevice* source, qint64 size);
    // Where a returned stream goes; without a sink it is kept in memory.
    void SetStreamSink(int index, IDSStreamSink* sink);

    void Execute();

    QString GetText(int index) const;
    qint64 GetInt64(int index) const;
    bool GetBoolean(int index) const;
    double GetDateTime(int index) const;
    QJsonValue GetJson(int index) const;
    QByteArray GetStreamBytes(int index) const;

private:
    void Check(int index, DSProtocol::TParamType type, bool input) const;
    QString Path() const;

    TDSConnection& FConnection;
    QString FMethodName;
    std::vector<TDSParamInfo> FParams;
    bool FPrepared = false;
    QJsonArray FIn;
    QJsonArray FOut;
    QIODevice* FStreamSource = nullptr;
    qint64 FStreamSize = 0;
    IDSStreamSink* FSink = nullptr;
    QByteArray FStreamBytes;
};
