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

#include "../Support/RefEnvBench.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

bool WriteData(const QString& fileName, qint64 bytes) {
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    bench::FillBusinessText(block.data(), static_cast<std::size_t>(block.size()));
    QFile f(fileName);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    for (qint64 done = 0; done < bytes; done += block.size())
        f.write(block.constData(), qMin<qint64>(block.size(), bytes - done));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? std::strtoll(argv[1], nullptr, 10) : 256;
    const qint64 bytes = mib * 1024 * 1024;

    const bench::TBenchRefEnv env;
    if (!env.Ready())
        return 1;
    const QString user = env.Value(QStringLiteral("TV_DEMO_USER"));
    const QString password = env.Value(QStringLiteral("TV_DEMO_PASSWORD"));
    const uint16_t sshPort = env.Port(QStringLiteral("TV_SSH_PORT"));
    const uint16_t appPort = env.Port(QStringLiteral("TV_APPSERVER_PORT"));

    // The package file.
    QTemporaryDir work;
    QDir().mkpath(work.filePath(QStringLiteral("pkg")));
    if (!WriteData(work.filePath(QStringLiteral("pkg/bench.bin")), bytes))
        return 1;
    const QString package = QStringLiteral("Bench");
    const QString version = QString::number(QCoreApplication::applicationPid());
    if (QProcess::execute(env.Value(QStringLiteral("TV_APPSERVER_BIN")),
                          {QStringLiteral("publish"), QStringLiteral("--data"),
                           env.Value(QStringLiteral("TV_APPSERVER_DATA")), QStringLiteral("--name"),
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
        bench::TOpenSshForward forward(env, appPort);
        const uint16_t local = forward.LocalPort();
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
    }

    std::printf("data: a %lld MiB package file, downloaded through the gateway\n", mib);
    std::printf("starter (tunnel + package proxy): %10.1f MiB/s\n", ours);
    std::printf("curl through ssh -L:              %10.1f MiB/s\n", curl);
    if (curl > 0 && ours > 0)
        std::printf("starter / curl:                   %10.3f\n", ours / curl);

    return ours > 0 ? 0 : 1;
}
