#include "Platform/SSH/SshClient.h"

#include "Platform/SSH/SshChannelPump.h"

#include <libssh/libssh.h>
#include <libssh/server.h> // ssh_send_keepalive serves clients as well

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

const QString TSshClient::AuthFailedText = QStringLiteral("Authentication failed");
const QString TSshClient::SendFailedText = QStringLiteral("Cannot send data to server");
const QString TSshClient::ReceiveFailedText = QStringLiteral("Socket closed. Cannot receive data");

namespace {
std::once_flag LibraryInit;

QString LibraryError(ssh_session session, const QString& context) {
    const QString text = QString::fromUtf8(ssh_get_error(session));
    return text.isEmpty() ? context : context + QStringLiteral(": ") + text;
}

// Closes a descriptor on every path.
struct TFdGuard {
    int Fd = -1;
    ~TFdGuard() {
        if (Fd >= 0)
            ::close(Fd);
    }
    int Release() {
        const int fd = Fd;
        Fd = -1;
        return fd;
    }
};
} // namespace

TSshClient::TSshClient() {
    std::call_once(LibraryInit, [] { ssh_init(); });
}

TSshClient::~TSshClient() {
    Disconnect();
}

void TSshClient::Connect() {
    Disconnect();
    ssh_session session = ssh_new();
    if (session == nullptr)
        throw ESshError(QStringLiteral("Cannot create an SSH session"));
    FSession = session;
    try {
        const QByteArray host = FHost.toUtf8();
        const QByteArray user = FUser.toUtf8();
        const unsigned int port = FPort;
        const long timeout = FTimeout;
        ssh_options_set(session, SSH_OPTIONS_HOST, host.constData());
        ssh_options_set(session, SSH_OPTIONS_PORT, &port);
        ssh_options_set(session, SSH_OPTIONS_USER, user.constData());
        ssh_options_set(session, SSH_OPTIONS_TIMEOUT, &timeout);
        const int no = 0;
        ssh_options_set(session, SSH_OPTIONS_PROCESS_CONFIG, &no);
        // Compression is required in both directions.
        ssh_options_set(session, SSH_OPTIONS_COMPRESSION_C_S, "zlib@openssh.com,zlib");
        ssh_options_set(session, SSH_OPTIONS_COMPRESSION_S_C, "zlib@openssh.com,zlib");
        if (ssh_connect(session) != SSH_OK)
            throw ESshSocketError(LibraryError(
                session, QStringLiteral("Cannot connect to %1:%2").arg(FHost).arg(FPort)));
        const int one = 1;
        setsockopt(ssh_get_fd(session), SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
        setsockopt(ssh_get_fd(session), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

        ssh_key serverKey = nullptr;
        if (ssh_get_server_publickey(session, &serverKey) != SSH_OK)
            throw ESshError(LibraryError(session, QStringLiteral("Cannot read the host key")));
        char* base64 = nullptr;
        const int exported = ssh_pki_export_pubkey_base64(serverKey, &base64);
        const QByteArray keyLine = exported == SSH_OK
                                       ? QByteArray(ssh_key_type_to_char(ssh_key_type(serverKey))) +
                                             ' ' + QByteArray(base64)
                                       : QByteArray();
        ssh_string_free_char(base64);
        ssh_key_free(serverKey);
        if (keyLine.isEmpty() || !OnServerKeyValidate || !OnServerKeyValidate(keyLine))
            throw ESshError(QStringLiteral("Host key verification failed: the server's key is not "
                                           "trusted"));

        const QByteArray password = FPassword.toUtf8();
        const int auth = ssh_userauth_password(session, nullptr, password.constData());
        if (auth == SSH_AUTH_DENIED || auth == SSH_AUTH_PARTIAL)
            throw ESshError(AuthFailedText);
        if (auth != SSH_AUTH_SUCCESS)
            throw ESshSocketError(LibraryError(session, ReceiveFailedText));
        const long channelTimeout = FChannelTimeout;
        ssh_options_set(session, SSH_OPTIONS_TIMEOUT, &channelTimeout);

        FWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (FWakeFd < 0)
            RaiseLastOSError();
        FStopping = false;
        FAlive = true;
        FThreadDone = false;
        FThread = std::thread(&TSshClient::Run, this);
    } catch (...) {
        CloseSessionNow();
        throw;
    }
}

void TSshClient::CloseSessionNow() {
    if (FSession != nullptr) {
        ssh_disconnect(FSession);
        ssh_free(FSession);
        FSession = nullptr;
    }
    if (FWakeFd >= 0) {
        ::close(FWakeFd);
        FWakeFd = -1;
    }
}

void TSshClient::Disconnect() {
    FStopping = true;
    if (FThread.joinable() && std::this_thread::get_id() == FThread.get_id())
        return; // asked from a handler on the connection's thread: the loop ends by itself

    if (FThread.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(FWakeFd, &one, sizeof one);
        FThread.join();
    }
    FAlive = false;
    CloseSessionNow();
}

void TSshClient::Run() {
    bool broken = false;
    {
        TSshChannelPump pump(FSession);
        FPump = &pump;
        pump.WatchFd(FWakeFd, [this] {
            uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(FWakeFd, &count, sizeof count);
            RunCommands();
        });
        auto lastKeepAlive = std::chrono::steady_clock::now();
        while (!FStopping) {
            if (!pump.Iterate(1000)) {
                broken = !FStopping;
                break;
            }
            const auto now = std::chrono::steady_clock::now();
            if (FKeepAliveInterval > 0 &&
                now - lastKeepAlive >= std::chrono::seconds(FKeepAliveInterval)) {
                lastKeepAlive = now;
                if (ssh_send_keepalive(FSession) == SSH_ERROR && !ssh_is_connected(FSession)) {
                    broken = !FStopping;
                    break;
                }
            }
        }
        FAlive = false;
        for (auto& [port, forward] : FForwards) {
            pump.UnwatchFd(forward.ListenFd);
            ::close(forward.ListenFd);
        }
        FForwards.clear();
        pump.UnwatchFd(FWakeFd);
        FPump = nullptr;
    }
    {
        std::lock_guard<std::mutex> guard(FLock);
        FThreadDone = true;
    }
    RunCommands(); // commands that came too late fail
    if (broken && OnAfterDisconnect)
        OnAfterDisconnect();
}

void TSshClient::RunCommands() {
    for (;;) {
        std::function<void()> command;
        {
            std::lock_guard<std::mutex> guard(FLock);
            if (FCommands.empty())
                return;
            command = std::move(FCommands.front());
            FCommands.pop_front();
        }
        command();
    }
}

void TSshClient::Invoke(const std::function<void()>& work) {
    if (std::this_thread::get_id() == FThread.get_id()) {
        work();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> result = done->get_future();
    {
        std::lock_guard<std::mutex> guard(FLock);
        if (FThreadDone || !FAlive)
            throw ESshSocketError(SendFailedText);
        FCommands.push_back([this, work, done] {
            try {
                if (!FAlive || FPump == nullptr)
                    throw ESshSocketError(SendFailedText);
                work();
                done->set_value();
            } catch (...) {
                done->set_exception(std::current_exception());
            }
        });
    }
    const uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(FWakeFd, &one, sizeof one);
    result.get();
}

int TSshClient::ChannelCount() {
    int count = 0;
    try {
        Invoke([&] { count = static_cast<int>(FPump->LinkCount()); });
    } catch (const ESshError&) {
        return 0;
    }
    return count;
}

QByteArray TSshClient::Exchange(const QString& host, uint16_t port, const QByteArray& request,
                                int answerSize, int timeoutMs) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        RaiseLastOSError();
    TFdGuard mine{pair[0]};
    TFdGuard theirs{pair[1]};
    const QByteArray hostName = host.toUtf8();
    Invoke([&] {
        ssh_channel channel = ssh_channel_new(FSession);
        if (channel == nullptr)
            throw ESshSocketError(SendFailedText);
        if (ssh_channel_open_forward(channel, hostName.constData(), port, "127.0.0.1", 0) !=
            SSH_OK) {
            const QString text = LibraryError(FSession, QStringLiteral("Cannot open a channel to "
                                                                       "%1:%2")
                                                            .arg(host)
                                                            .arg(port));
            ssh_channel_free(channel);
            if (!ssh_is_connected(FSession))
                throw ESshSocketError(SendFailedText);
            throw ESshError(text);
        }
        FPump->AddLink(channel, theirs.Release());
    });
    // The channel is closed (by the pump) when our end is closed, on every path.
    qsizetype sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(mine.Fd, request.constData() + sent,
                                 static_cast<std::size_t>(request.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            throw ESshSocketError(SendFailedText);
        sent += n;
    }
    QByteArray answer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (answer.size() < answerSize) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{mine.Fd, POLLIN, 0};
        const int ready = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            throw ESshError(
                QStringLiteral("Timeout expired: no answer from %1:%2").arg(host).arg(port));
        char buffer[256];
        const ssize_t n =
            ::recv(mine.Fd, buffer,
                   std::min<std::size_t>(sizeof buffer,
                                         static_cast<std::size_t>(answerSize - answer.size())),
                   0);
        if (n <= 0)
            throw ESshSocketError(ReceiveFailedText);
        answer.append(buffer, n);
    }
    return answer;
}

uint16_t TSshClient::OpenForward(uint16_t localPort, const QString& host, uint16_t port) {
    TFdGuard listener{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
    if (listener.Fd < 0)
        RaiseLastOSError();
    const int one = 1;
    setsockopt(listener.Fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(localPort);
    if (::bind(listener.Fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener.Fd, 64) != 0)
        throw ESshError(QStringLiteral("Cannot listen on 127.0.0.1:%1: %2")
                            .arg(localPort)
                            .arg(QString::fromLocal8Bit(strerror(errno))));
    socklen_t len = sizeof addr;
    getsockname(listener.Fd, reinterpret_cast<sockaddr*>(&addr), &len);
    const uint16_t actual = ntohs(addr.sin_port);
    TForward forward;
    forward.Host = host.toStdString();
    forward.Port = port;
    Invoke([&] {
        forward.ListenFd = listener.Release();
        FForwards[actual] = forward;
        FPump->WatchFd(forward.ListenFd, [this, actual] { Accept(actual); });
    });
    return actual;
}

void TSshClient::Accept(uint16_t localPort) {
    auto it = FForwards.find(localPort);
    if (it == FForwards.end())
        return;
    const TForward forward = it->second;
    for (;;) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        TFdGuard client{
            ::accept4(forward.ListenFd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC)};
        if (client.Fd < 0)
            return;
        const int one = 1;
        setsockopt(client.Fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ssh_channel channel = ssh_channel_new(FSession);
        if (channel == nullptr)
            return;
        if (ssh_channel_open_forward(channel, forward.Host.c_str(), forward.Port, "127.0.0.1",
                                     ntohs(peer.sin_port)) != SSH_OK) {
            ssh_channel_free(channel);
            continue; // the local connection is closed: the far end cannot be reached
        }
        FPump->AddLink(channel, client.Release());
    }
}

void TSshClient::CloseForward(uint16_t localPort) {
    try {
        Invoke([&] {
            auto it = FForwards.find(localPort);
            if (it == FForwards.end())
                return;
            FPump->UnwatchFd(it->second.ListenFd);
            ::close(it->second.ListenFd);
            FForwards.erase(it);
        });
    } catch (const ESshError&) {
        // The connection is gone: its thread has closed every listener.
    }
}

bool TSshClient::IsForwarding(uint16_t localPort) {
    bool found = false;
    try {
        Invoke([&] { found = FForwards.count(localPort) != 0; });
    } catch (const ESshError&) {
        return false;
    }
    return found;
}
