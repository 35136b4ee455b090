// Throughput of one forwarded channel through the reference gateway, next to
// a direct loopback copy and next to OpenSSH's "ssh -L" through the same
// gateway. Prints MiB/s and the ratios.
//
//   bench_SshForward [MiB]        (default 256)
//
// Uses the running reference environment named by TV_REFENV_DIR, or starts
// one in a temporary folder and stops it afterwards.

#include "Platform/SSH/SshClient.h"

#include "../Support/RefEnvBench.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Counts what arrives until end of file, then answers the count (8 bytes).
class TSink {
public:
    TSink() {
        FFd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(FFd, 16) != 0)
            std::perror("sink");
        getsockname(FFd, reinterpret_cast<sockaddr*>(&addr), &len);
        FPort = ntohs(addr.sin_port);
        FThread = std::thread([this] { Serve(); });
    }
    ~TSink() {
        FStop = true;
        shutdown(FFd, SHUT_RDWR);
        close(FFd);
        FThread.join();
    }
    uint16_t Port() const { return FPort; }

private:
    void Serve() {
        std::vector<char> buffer(256 * 1024);
        while (!FStop) {
            const int client = accept(FFd, nullptr, nullptr);
            if (client < 0)
                return;
            uint64_t total = 0;
            for (;;) {
                const ssize_t n = read(client, buffer.data(), buffer.size());
                if (n <= 0)
                    break;
                total += static_cast<uint64_t>(n);
            }
            [[maybe_unused]] const auto w = write(client, &total, sizeof total);
            close(client);
        }
    }
    int FFd = -1;
    uint16_t FPort = 0;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// Sends the amount to the port, half-closes and waits for the count; answers
// MiB/s, or a negative value on failure.
double Transfer(uint16_t port, uint64_t bytes, const std::vector<char>& block) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    QElapsedTimer timer;
    timer.start();
    uint64_t sent = 0;
    while (sent < bytes) {
        const std::size_t chunk = std::min<uint64_t>(block.size(), bytes - sent);
        const ssize_t n = send(fd, block.data(), chunk, MSG_NOSIGNAL);
        if (n <= 0) {
            close(fd);
            return -1;
        }
        sent += static_cast<uint64_t>(n);
    }
    shutdown(fd, SHUT_WR);
    uint64_t received = 0;
    std::size_t got = 0;
    while (got < sizeof received) {
        const ssize_t n = read(fd, reinterpret_cast<char*>(&received) + got, sizeof received - got);
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    close(fd);
    if (received != bytes)
        return -1;
    return static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const uint64_t bytes = mib * 1024 * 1024;

    const bench::TBenchRefEnv env;
    if (!env.Ready())
        return 1;
    const QString user = env.Value(QStringLiteral("TV_DEMO_USER"));
    const QString password = env.Value(QStringLiteral("TV_DEMO_PASSWORD"));
    const uint16_t sshPort = env.Port(QStringLiteral("TV_SSH_PORT"));

    std::vector<char> block(1024 * 1024);
    bench::FillBusinessText(block.data(), block.size());
    TSink sink;

    const double direct = Transfer(sink.Port(), bytes, block);

    double ours = -1;
    {
        TSshClient client;
        client.SetHost(QStringLiteral("127.0.0.1"));
        client.SetPort(sshPort);
        client.SetUser(user);
        client.SetPassword(password);
        client.OnServerKeyValidate = [](const QByteArray&) { return true; };
        try {
            client.Connect();
            const uint16_t local = client.OpenForward(0, QStringLiteral("127.0.0.1"), sink.Port());
            ours = Transfer(local, bytes, block);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "our client: %s\n", e.what());
        }
    }

    double openssh = -1;
    {
        bench::TOpenSshForward forward(env, sink.Port());
        if (forward.Up())
            openssh = Transfer(forward.LocalPort(), bytes, block);
        else
            std::fprintf(stderr, "ssh -L did not start: %s\n", forward.ErrorOutput().constData());
    }

    std::printf("data: %llu MiB through one channel (compression on)\n",
                static_cast<unsigned long long>(mib));
    std::printf("direct loopback copy:        %10.1f MiB/s\n", direct);
    std::printf("our client via the gateway:  %10.1f MiB/s\n", ours);
    std::printf("ssh -L via the gateway:      %10.1f MiB/s\n", openssh);
    if (direct > 0 && ours > 0)
        std::printf("ours / direct:               %10.3f\n", ours / direct);
    if (openssh > 0 && ours > 0)
        std::printf("ours / ssh -L:               %10.3f\n", ours / openssh);

    return ours > 0 ? 0 : 1;
}
