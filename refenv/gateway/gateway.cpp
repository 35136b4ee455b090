// The reference SSH gateway.
//
//   tv_gateway --port PORT --host-key FILE --db-port PORT --db-name NAME
//              [--listen ADDRESS] [--db-host ADDRESS]
//   tv_gateway --free-port        prints a free loopback port and exits
//
// Password logins are checked by logging in to the database with the same
// user name and password. Compression is required in both directions. Direct
// channels are forwarded to the host and port the client asks for; a direct
// channel to "localhost" (or 127.0.0.1) on the gateway's own port is the
// session-identity service: it reads "RequestSessionId" in UTF-16LE and
// answers a new GUID in braces, 38 characters in UTF-16LE (76 bytes).

#include "Platform/SSH/SshChannelPump.h"

#include <libpq-fe.h>
#include <libssh/server.h>

#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct TOptions {
    std::string Listen = "127.0.0.1";
    int Port = 0;
    std::string HostKey;
    std::string DbHost = "127.0.0.1";
    int DbPort = 0;
    std::string DbName;
};
TOptions Options;

void Log(const std::string& text) {
    std::fprintf(stderr, "tv_gateway[%d]: %s\n", static_cast<int>(getpid()), text.c_str());
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Database user names are not case-sensitive (as with the Oracle servers the
// program was made for); the reference database keeps them in lower case.
bool CheckPassword(const std::string& user, const std::string& password) {
    if (user.empty() || password.empty())
        return false;
    const std::string port = std::to_string(Options.DbPort);
    const std::string name = Lower(user);
    const char* keys[] = {"host", "port", "dbname", "user", "password", "connect_timeout", nullptr};
    const char* values[] = {Options.DbHost.c_str(),
                            port.c_str(),
                            Options.DbName.c_str(),
                            name.c_str(),
                            password.c_str(),
                            "10",
                            nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 0);
    const bool ok = conn != nullptr && PQstatus(conn) == CONNECTION_OK;
    if (conn != nullptr)
        PQfinish(conn);
    return ok;
}

std::string NewGuid() {
    std::random_device device;
    std::mt19937_64 engine((static_cast<uint64_t>(device()) << 32) ^ device() ^
                           static_cast<uint64_t>(getpid()));
    unsigned char b[16];
    for (auto& byte : b)
        byte = static_cast<unsigned char>(engine() & 0xff);
    b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);
    char text[64];
    std::snprintf(text, sizeof text,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

std::string Utf16Le(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

// Answers one session-identity request on its end of a socket pair.
void ServeSessionId(int fd) {
    const std::string request = Utf16Le("RequestSessionId");
    std::string got;
    while (got.size() < request.size()) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 15000) <= 0)
            break;
        char buffer[64];
        const ssize_t n = read(fd, buffer, request.size() - got.size());
        if (n <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    if (got == request) {
        const std::string answer = Utf16Le(NewGuid());
        std::size_t sent = 0;
        while (sent < answer.size()) {
            const ssize_t n = send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
    }
    close(fd);
}

int ConnectTo(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0)
        return -1;
    int fd = -1;
    for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0)
            continue;
        // At most ten seconds per address: the session waits meanwhile.
        if (connect(fd, a->ai_addr, a->ai_addrlen) == 0)
            break;
        if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int error = 0;
            socklen_t len = sizeof error;
            if (poll(&p, 1, 10000) == 1 &&
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0)
                break;
        }
        close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    if (fd >= 0) {
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd;
}

struct TConnection {
    ssh_session Session = nullptr;
    TSshChannelPump* Pump = nullptr;
    bool Authenticated = false;
    int FailedLogins = 0;
    std::string User;
};

int AuthPassword(ssh_session, const char* user, const char* password, void* userdata) {
    auto* conn = static_cast<TConnection*>(userdata);
    if (CheckPassword(user != nullptr ? user : "", password != nullptr ? password : "")) {
        conn->Authenticated = true;
        conn->User = user;
        Log("login " + conn->User);
        return SSH_AUTH_SUCCESS;
    }
    ++conn->FailedLogins;
    Log(std::string("login refused for ") + (user != nullptr ? user : ""));
    return SSH_AUTH_DENIED;
}

int OnMessage(ssh_session, ssh_message message, void* userdata) {
    auto* conn = static_cast<TConnection*>(userdata);
    if (ssh_message_type(message) != SSH_REQUEST_CHANNEL_OPEN ||
        ssh_message_subtype(message) != SSH_CHANNEL_DIRECT_TCPIP || !conn->Authenticated)
        return 1; // the default answer refuses it
    const std::string host = ssh_message_channel_request_open_destination(message);
    const int port = ssh_message_channel_request_open_destination_port(message);
    int fd = -1;
    if ((Lower(host) == "localhost" || host == "127.0.0.1") && port == Options.Port) {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            return 1;
        std::thread(ServeSessionId, pair[1]).detach();
        fd = pair[0];
    } else {
        fd = ConnectTo(host, port);
        if (fd < 0) {
            Log("cannot reach " + host + ":" + std::to_string(port));
            return 1;
        }
    }
    ssh_channel channel = ssh_message_channel_request_open_reply_accept(message);
    if (channel == nullptr) {
        close(fd);
        return 0;
    }
    conn->Pump->AddLink(channel, fd);
    return 0;
}

void ServeConnection(ssh_session session) {
    TConnection conn;
    conn.Session = session;
    // Compression is required: "none" is not offered.
    ssh_options_set(session, SSH_OPTIONS_COMPRESSION_C_S, "zlib@openssh.com,zlib");
    ssh_options_set(session, SSH_OPTIONS_COMPRESSION_S_C, "zlib@openssh.com,zlib");
    // A client that stops answering during the handshake is given up.
    const long timeout = 30;
    ssh_options_set(session, SSH_OPTIONS_TIMEOUT, &timeout);
    ssh_server_callbacks_struct callbacks{};
    callbacks.userdata = &conn;
    callbacks.auth_password_function = AuthPassword;
    ssh_callbacks_init(&callbacks);
    ssh_set_server_callbacks(session, &callbacks);
    ssh_set_auth_methods(session, SSH_AUTH_METHOD_PASSWORD);
    if (ssh_handle_key_exchange(session) != SSH_OK) {
        Log(std::string("key exchange failed: ") + ssh_get_error(session));
        ssh_disconnect(session);
        ssh_free(session);
        return;
    }
    const int fd = ssh_get_fd(session);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    {
        TSshChannelPump pump(session);
        conn.Pump = &pump;
        ssh_set_message_callback(session, OnMessage, &conn);
        const auto started = time(nullptr);
        while (pump.Iterate(1000)) {
            if (!conn.Authenticated && (conn.FailedLogins >= 10 || time(nullptr) - started > 120))
                break;
        }
        conn.Pump = nullptr;
    }
    ssh_disconnect(session);
    ssh_free(session);
    if (!conn.User.empty())
        Log("session of " + conn.User + " ended");
}

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 1;
    std::printf("%d\n", ntohs(addr.sin_port));
    close(fd);
    return 0;
}

int Usage() {
    std::fprintf(stderr, "usage: tv_gateway --port PORT --host-key FILE --db-port PORT "
                         "--db-name NAME [--listen ADDRESS] [--db-host ADDRESS]\n"
                         "       tv_gateway --free-port\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--free-port")
            return FreePort();
        if (i + 1 >= argc)
            return Usage();
        const std::string value = argv[++i];
        if (arg == "--port")
            Options.Port = std::atoi(value.c_str());
        else if (arg == "--host-key")
            Options.HostKey = value;
        else if (arg == "--listen")
            Options.Listen = value;
        else if (arg == "--db-host")
            Options.DbHost = value;
        else if (arg == "--db-port")
            Options.DbPort = std::atoi(value.c_str());
        else if (arg == "--db-name")
            Options.DbName = value;
        else
            return Usage();
    }
    if (Options.Port <= 0 || Options.HostKey.empty() || Options.DbPort <= 0 ||
        Options.DbName.empty())
        return Usage();
    std::signal(SIGPIPE, SIG_IGN);
    ssh_init();
    ssh_bind bind = ssh_bind_new();
    ssh_bind_options_set(bind, SSH_BIND_OPTIONS_BINDADDR, Options.Listen.c_str());
    ssh_bind_options_set(bind, SSH_BIND_OPTIONS_BINDPORT, &Options.Port);
    ssh_bind_options_set(bind, SSH_BIND_OPTIONS_HOSTKEY, Options.HostKey.c_str());
    if (ssh_bind_listen(bind) != SSH_OK) {
        Log(std::string("cannot listen: ") + ssh_get_error(bind));
        return 1;
    }
    Log("listening on " + Options.Listen + ":" + std::to_string(Options.Port));
    for (;;) {
        ssh_session session = ssh_new();
        if (session == nullptr)
            return 1;
        if (ssh_bind_accept(bind, session) != SSH_OK) {
            Log(std::string("accept failed: ") + ssh_get_error(bind));
            ssh_free(session);
            continue;
        }
        std::thread(ServeConnection, session).detach();
    }
}
