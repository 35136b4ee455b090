// Shared pieces of the benchmarks that run against the reference environment:
// its values, starting and stopping it, the test data, and an OpenSSH "ssh -L"
// forward through its gateway to compare with.
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

// The values the reference environment writes to "refenv.env" in its folder.
inline QMap<QString, QString> ReadRefEnvValues(const QString& dir) {
    QMap<QString, QString> values;
    QFile file(dir + QStringLiteral("/refenv.env"));
    if (!file.open(QIODevice::ReadOnly))
        return values;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            values.insert(line.left(eq), line.mid(eq + 1));
    }
    return values;
}

// The running reference environment named by TV_REFENV_DIR, or one started in
// a temporary folder and stopped again when this goes.
class TBenchRefEnv {
public:
    TBenchRefEnv() {
        FDir = qEnvironmentVariable("TV_REFENV_DIR");
        FStarted = FDir.isEmpty() || !QFile::exists(FDir + QStringLiteral("/refenv.env"));
        if (FStarted) {
            FDir = FOwn.path();
            if (QProcess::execute(Script(), {QStringLiteral("start"), QStringLiteral("--dir"), FDir,
                                             QStringLiteral("--build"),
                                             QStringLiteral(TV_BINARY_DIR)}) != 0) {
                std::fprintf(stderr, "cannot start the reference environment\n");
                FStarted = false;
                return;
            }
        }
        FValues = ReadRefEnvValues(FDir);
        FReady = true;
    }
    ~TBenchRefEnv() {
        if (FStarted)
            QProcess::execute(Script(), {QStringLiteral("stop"), QStringLiteral("--dir"), FDir});
    }
    TBenchRefEnv(const TBenchRefEnv&) = delete;
    TBenchRefEnv& operator=(const TBenchRefEnv&) = delete;

    bool Ready() const { return FReady; }
    QString Value(const QString& name) const { return FValues.value(name); }
    uint16_t Port(const QString& name) const { return static_cast<uint16_t>(Value(name).toUInt()); }

private:
    static QString Script() { return QStringLiteral(TV_SOURCE_DIR "/refenv/refenv"); }

    QTemporaryDir FOwn;
    QString FDir;
    QMap<QString, QString> FValues;
    bool FStarted = false;
    bool FReady = false;
};

// Text-like data, about as compressible as business data (the same bytes on
// every call).
inline void FillBusinessText(char* data, std::size_t size) {
    uint32_t seed = 12345;
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = static_cast<char>('a' + (seed >> 16) % 26);
        if ((seed >> 8) % 7 == 0)
            data[i] = ' ';
    }
}

// Waits until something listens on the loopback port.
inline bool WaitForPort(uint16_t port, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        close(fd);
        if (ok)
            return true;
        usleep(50 * 1000);
    }
    return false;
}

// OpenSSH's "ssh -L" from a free local port through the reference gateway to
// a port on the server side (password login via sshpass, compression on, the
// gateway's host key checked). Ended when this goes.
class TOpenSshForward {
public:
    TOpenSshForward(const TBenchRefEnv& env, uint16_t remotePort) {
        const uint16_t sshPort = env.Port(QStringLiteral("TV_SSH_PORT"));
        const QString known = FTmp.filePath(QStringLiteral("known_hosts"));
        {
            QFile file(known);
            QFile key(env.Value(QStringLiteral("TV_SSH_HOST_KEY_PUB")));
            if (file.open(QIODevice::WriteOnly) && key.open(QIODevice::ReadOnly))
                file.write("[127.0.0.1]:" + QByteArray::number(sshPort) + " " + key.readAll());
        }
        QProcess freePort;
        freePort.start(QStringLiteral(TV_BINARY_DIR "/refenv/tv_gateway"),
                       {QStringLiteral("--free-port")});
        freePort.waitForFinished(5000);
        FLocalPort = static_cast<uint16_t>(freePort.readAllStandardOutput().trimmed().toUInt());
        QProcessEnvironment penv = QProcessEnvironment::systemEnvironment();
        penv.insert(QStringLiteral("SSHPASS"), env.Value(QStringLiteral("TV_DEMO_PASSWORD")));
        FSsh.setProcessEnvironment(penv);
        FSsh.start(QStringLiteral("sshpass"),
                   {QStringLiteral("-e"), QStringLiteral("ssh"), QStringLiteral("-N"),
                    QStringLiteral("-L"),
                    QStringLiteral("%1:127.0.0.1:%2").arg(FLocalPort).arg(remotePort),
                    QStringLiteral("-o"), QStringLiteral("UserKnownHostsFile=") + known,
                    QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=yes"),
                    QStringLiteral("-o"), QStringLiteral("Compression=yes"), QStringLiteral("-o"),
                    QStringLiteral("PubkeyAuthentication=no"), QStringLiteral("-p"),
                    QString::number(sshPort),
                    env.Value(QStringLiteral("TV_DEMO_USER")) + QStringLiteral("@127.0.0.1")});
        FUp = FSsh.waitForStarted(5000) && WaitForPort(FLocalPort, 10000);
    }
    ~TOpenSshForward() {
        FSsh.terminate();
        FSsh.waitForFinished(5000);
    }
    TOpenSshForward(const TOpenSshForward&) = delete;
    TOpenSshForward& operator=(const TOpenSshForward&) = delete;

    // True when the forward listens on LocalPort().
    bool Up() const { return FUp; }
    uint16_t LocalPort() const { return FLocalPort; }
    QByteArray ErrorOutput() { return FSsh.readAllStandardError(); }

private:
    QTemporaryDir FTmp;
    QProcess FSsh;
    uint16_t FLocalPort = 0;
    bool FUp = false;
};

} // namespace bench
