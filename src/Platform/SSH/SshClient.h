#pragma once

// Our SSH client library, on libssh: password logins with compression
// required, a host-key check by the owner, direct channels and local port
// forwarding. After the login one thread owns the libssh session: it serves
// every channel, sends the keep-alive messages and notices a broken link.

#include "Platform/Runtime/Exception.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

struct ssh_session_struct;

// An error of the SSH library.
TV_DECLARE_EXCEPTION(ESshError, Exception);
// The SSH link failed to send or receive: a network failure.
TV_DECLARE_EXCEPTION(ESshSocketError, ESshError);

class TSshClient {
public:
    // Texts of the library's errors that other units look for.
    static const QString AuthFailedText;    // "Authentication failed"
    static const QString SendFailedText;    // "Cannot send data to server"
    static const QString ReceiveFailedText; // "Socket closed. Cannot receive data"

    TSshClient();
    ~TSshClient();
    TSshClient(const TSshClient&) = delete;
    TSshClient& operator=(const TSshClient&) = delete;

    void SetHost(const QString& host) { FHost = host; }
    void SetPort(uint16_t port) { FPort = port; }
    void SetUser(const QString& user) { FUser = user; }
    void SetPassword(const QString& password) { FPassword = password; }
    // Seconds for the connect and the login.
    void SetTimeout(int seconds) { FTimeout = seconds; }
    // Seconds between keep-alive messages (0: none).
    void SetKeepAliveInterval(int seconds) { FKeepAliveInterval = seconds; }
    int KeepAliveInterval() const { return FKeepAliveInterval; }
    // Seconds for opening channels once connected.
    void SetChannelTimeout(int seconds) { FChannelTimeout = seconds; }

    // Decides whether the server is trusted; receives its public key in the
    // one-line OpenSSH form ("ssh-rsa AAAA..."). Without a handler no server is.
    std::function<bool(const QByteArray& serverKey)> OnServerKeyValidate;
    // Runs on the connection's own thread when the link breaks by itself
    // (not after Disconnect): at most once per connect.
    std::function<void()> OnAfterDisconnect;

    // Connects, checks the host key and logs in. A refused password raises
    // ESshError with the message "Authentication failed".
    void Connect();
    // Closes every channel and the connection; never raises.
    void Disconnect();
    bool Connected() const { return FAlive.load(); }
    // Number of channels being served (forwarded connections, exchanges).
    int ChannelCount();

    // Opens a direct channel to host:port as the server sees it, sends the
    // request and reads exactly answerSize bytes, waiting at most timeoutMs.
    QByteArray Exchange(const QString& host, uint16_t port, const QByteArray& request,
                        int answerSize, int timeoutMs);

    // Listens on 127.0.0.1:localPort (0: a port the system chooses) and
    // forwards every connection made there to host:port as the server sees
    // it. Answers the port listened on.
    uint16_t OpenForward(uint16_t localPort, const QString& host, uint16_t port);
    void CloseForward(uint16_t localPort);
    bool IsForwarding(uint16_t localPort);

private:
    struct TForward {
        int ListenFd = -1;
        std::string Host;
        uint16_t Port = 0;
    };
    void Run();
    // Runs the work on the connection's thread and waits for it.
    void Invoke(const std::function<void()>& work);
    void RunCommands();
    void Accept(uint16_t localPort);
    void CloseSessionNow();

    QString FHost;
    uint16_t FPort = 22;
    QString FUser;
    QString FPassword;
    int FTimeout = 60;
    int FKeepAliveInterval = 60;
    int FChannelTimeout = 15;

    ssh_session_struct* FSession = nullptr;
    std::thread FThread;
    int FWakeFd = -1;
    std::atomic<bool> FAlive{false};
    std::atomic<bool> FStopping{false};
    std::mutex FLock;
    std::deque<std::function<void()>> FCommands;
    std::atomic<bool> FThreadDone{true};
    // Owned by the connection's thread while it runs.
    class TSshChannelPump* FPump = nullptr;
    std::map<uint16_t, TForward> FForwards;
};
