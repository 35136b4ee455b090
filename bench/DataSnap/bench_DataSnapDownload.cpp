// Download throughput of one package file from the reference application
// server through the starter's SSH tunnel and its package proxy, next to curl
// fetching the same file from the same server through OpenSSH's "ssh -L"
// over the same gateway. Prints MiB/s and the ratio.
//
//   bench_DataSnapDownload [MiB]        (default 256)
//
// Uses the running reference environment named by TV_REFENV_DIR, or starts
// one in a temporary folder and stops it afterwards.

#include "Client/Common/DataSnap/DataSnapClientModule.h"
#include "Client/Common/SSH/SSHClientModule.h"
#include "Common/Files/FileStreams.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

QMap<QString, QString> ReadEnv(const QString& dir) {
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

bool WriteData(const QString& fileName, qint64 bytes) {
    // Text-like data, about as compressible as business data.
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    uint32_t seed = 12345;
    for (char& c : block) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>('a' + (seed >> 16) % 26);
        if ((seed >> 8) % 7 == 0)
            c = ' ';
    }
    QFile f(fileName);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    for (qint64 done = 0; done < bytes; done += block.size())
        f.write(block.constData(), qMin<qint64>(block.size(), bytes - done));
    return true;
}

bool PortOpen(uint16_t port) {
    QProcess probe;
    probe.start(QStringLiteral("bash"),
                {QStringLiteral("-c"), QStringLiteral("exec 3<>/dev/tcp/127.0.0.1/%1").arg(port)});
    probe.waitForFinished(2000);
    return probe.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? std::strtoll(argv[1], nullptr, 10) : 256;
    const qint64 bytes = mib * 1024 * 1024;

    QString dir = qEnvironmentVariable("TV_REFENV_DIR");
    QTemporaryDir own;
    const QString script = QStringLiteral(TV_SOURCE_DIR "/refenv/refenv");
    const bool started = dir.isEmpty() || !QFile::exists(dir + QStringLiteral("/refenv.env"));
    if (started) {
        dir = own.path();
        if (QProcess::execute(script, {QStringLiteral("start"), QStringLiteral("--dir"), dir,
                                       QStringLiteral("--build"), QStringLiteral(TV_BINARY_DIR)}) !=
            0) {
            std::fprintf(stderr, "cannot start the reference environment\n");
            return 1;
        }
    }
    const auto env = ReadEnv(dir);
    const QString user = env.value(QStringLiteral("TV_DEMO_USER"));
    const QString password = env.value(QStringLiteral("TV_DEMO_PASSWORD"));
    const auto sshPort = static_cast<uint16_t>(env.value(QStringLiteral("TV_SSH_PORT")).toUInt());
    const auto appPort =
        static_cast<uint16_t>(env.value(QStringLiteral("TV_APPSERVER_PORT")).toUInt());

    // The package file.
    QTemporaryDir work;
    QDir().mkpath(work.filePath(QStringLiteral("pkg")));
    if (!WriteData(work.filePath(QStringLiteral("pkg/bench.bin")), bytes))
        return 1;
    const QString package = QStringLiteral("Bench");
    const QString version = QString::number(QCoreApplication::applicationPid());
    if (QProcess::execute(env.value(QStringLiteral("TV_APPSERVER_BIN")),
                          {QStringLiteral("publish"), QStringLiteral("--data"),
                           env.value(QStringLiteral("TV_APPSERVER_DATA")), QStringLiteral("--name"),
                           package, QStringLiteral("--version"), version, QStringLiteral("--from"),
                           work.filePath(QStringLiteral("pkg"))}) != 0) {
        std::fprintf(stderr, "cannot publish the package\n");
        return 1;
    }
    QFile::remove(work.filePath(QStringLiteral("pkg/bench.bin")));

    auto environment = TItem::Create<TEnvironment>();
    environment->SetSSHAddress(QStringLiteral("127.0.0.1"));
    environment->SetSSHPort(sshPort);
    environment->SetDataSnapAddress(QStringLiteral("127.0.0.1"));
    environment->SetDataSnapPort(appPort);
    environment->SetUseSSHTunnels(true);

    double ours = -1;
    {
        TSSHClientModule ssh;
        TDataSnapClientModule ds;
        ds.OnGetDataSnapAddress = [&ssh](QString&, uint16_t& port) {
            port = ssh.DataSnapTunnelPort();
        };
        try {
            ssh.Connect(user, password, environment.get());
            ds.Connect(user, password, environment.get());
            QElapsedTimer timer;
            timer.start();
            {
                TMeasuredFileStream target(work.filePath(QStringLiteral("ours.bin")), fmCreate);
                ds.PackagesClient()->DownLoadFile(package, version, QStringLiteral("bench.bin"),
                                                  &target);
                if (target.size() != bytes)
                    throw EDSError(QStringLiteral("short download"));
            }
            ours = double(bytes) / (1024.0 * 1024.0) / (double(timer.nsecsElapsed()) / 1e9);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "our client: %s\n", e.what());
        }
        ds.Disconnect();
        ssh.Disconnect();
        QFile::remove(work.filePath(QStringLiteral("ours.bin")));
    }

    double curl = -1;
    {
        QTemporaryDir tmp;
        QFile known(tmp.filePath(QStringLiteral("known_hosts")));
        QFile key(env.value(QStringLiteral("TV_SSH_HOST_KEY_PUB")));
        if (known.open(QIODevice::WriteOnly) && key.open(QIODevice::ReadOnly))
            known.write("[127.0.0.1]:" + QByteArray::number(sshPort) + " " + key.readAll());
        known.close();
        QProcess freePort;
        freePort.start(QStringLiteral(TV_BINARY_DIR "/refenv/tv_gateway"),
                       {QStringLiteral("--free-port")});
        freePort.waitForFinished(5000);
        const auto local =
            static_cast<uint16_t>(freePort.readAllStandardOutput().trimmed().toUInt());
        QProcess ssh;
        QProcessEnvironment penv = QProcessEnvironment::systemEnvironment();
        penv.insert(QStringLiteral("SSHPASS"), password);
        ssh.setProcessEnvironment(penv);
        ssh.start(QStringLiteral("sshpass"),
                  {QStringLiteral("-e"), QStringLiteral("ssh"), QStringLiteral("-N"),
                   QStringLiteral("-L"), QStringLiteral("%1:127.0.0.1:%2").arg(local).arg(appPort),
                   QStringLiteral("-o"), QStringLiteral("UserKnownHostsFile=") + known.fileName(),
                   QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=yes"),
                   QStringLiteral("-o"), QStringLiteral("Compression=yes"), QStringLiteral("-o"),
                   QStringLiteral("PubkeyAuthentication=no"), QStringLiteral("-p"),
                   QString::number(sshPort), user + QStringLiteral("@127.0.0.1")});
        bool up = ssh.waitForStarted(5000);
        for (int i = 0; up && i < 200 && !PortOpen(local); ++i)
            QThread::msleep(50);
        const QString base = QStringLiteral("http://127.0.0.1:%1/datasnap").arg(local);
        const QString auth = user + QLatin1Char(':') + password;
        QProcess login;
        login.start(QStringLiteral("curl"),
                    {QStringLiteral("-s"), QStringLiteral("-u"), auth, QStringLiteral("-d"),
                     QString(), base + QStringLiteral("/connect")});
        login.waitForFinished(15000);
        const QString session = QJsonDocument::fromJson(login.readAllStandardOutput())
                                    .object()
                                    .value(QStringLiteral("session"))
                                    .toString();
        if (session.isEmpty()) {
            std::fprintf(stderr, "curl could not log in through ssh -L\n");
        } else {
            const QString out = work.filePath(QStringLiteral("curl.bin"));
            QProcess fetch;
            QElapsedTimer timer;
            timer.start();
            fetch.start(
                QStringLiteral("curl"),
                {QStringLiteral("-s"), QStringLiteral("-o"), out, QStringLiteral("-u"), auth,
                 QStringLiteral("-H"), QStringLiteral("X-DataSnap-Session: ") + session,
                 QStringLiteral("-H"), QStringLiteral("Content-Type: application/json"),
                 QStringLiteral("-d"),
                 QStringLiteral("[\"%1\",\"%2\",\"bench.bin\",null,null]").arg(package, version),
                 base + QStringLiteral("/rest/TPackagesServer/DownLoadFile")});
            fetch.waitForFinished(-1);
            const double seconds = double(timer.nsecsElapsed()) / 1e9;
            if (QFileInfo(out).size() == bytes)
                curl = double(bytes) / (1024.0 * 1024.0) / seconds;
            else
                std::fprintf(stderr, "curl fetched %lld bytes\n", QFileInfo(out).size());
            // The package goes again.
            QProcess remove;
            remove.start(QStringLiteral("curl"),
                         {QStringLiteral("-s"), QStringLiteral("-u"), auth, QStringLiteral("-H"),
                          QStringLiteral("X-DataSnap-Session: ") + session, QStringLiteral("-d"),
                          QStringLiteral("[\"%1\",\"%2\"]").arg(package, version),
                          base + QStringLiteral("/rest/TPackagesServer/DeletePackage")});
            remove.waitForFinished(15000);
        }
        ssh.terminate();
        ssh.waitForFinished(5000);
    }

    std::printf("data: a %lld MiB package file, downloaded through the gateway\n", mib);
    std::printf("starter (tunnel + package proxy): %10.1f MiB/s\n", ours);
    std::printf("curl through ssh -L:              %10.1f MiB/s\n", curl);
    if (curl > 0 && ours > 0)
        std::printf("starter / curl:                   %10.3f\n", ours / curl);

    if (started)
        QProcess::execute(script, {QStringLiteral("stop"), QStringLiteral("--dir"), dir});
    return ours > 0 ? 0 : 1;
}
