// ctest-label: integration
// ctest-timeout: 400
#include "Client/Common/DataSnap/DataSnapClientModule.h"
#include "Client/Common/SSH/SSHClientModule.h"
#include "Common/Files/FileStreams.h"
#include "Common/Files/FileUtils.h"
#include "Support/RefEnv.h"

#include <httplib.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr qint64 BigSize = 50LL * 1024 * 1024;

} // namespace

// The application-server module and its proxies through the SSH tunnel
// against the reference application server.
class TestDataSnapIntegration : public QObject {
    Q_OBJECT

private:
    TRefEnv Env;
    std::unique_ptr<TEnvironment> FEnv;
    std::unique_ptr<TSSHClientModule> FSsh;
    std::unique_ptr<TDataSnapClientModule> FDs;
    QTemporaryDir FDir;
    QString FPackage;

    QString User() const { return Env.Value(QStringLiteral("TV_DEMO_USER")); }
    QString Password() const { return Env.Value(QStringLiteral("TV_DEMO_PASSWORD")); }

    std::unique_ptr<TDataSnapClientModule> NewModule() {
        auto ds = std::make_unique<TDataSnapClientModule>();
        TSSHClientModule* ssh = FSsh.get();
        ds->OnGetDataSnapAddress = [ssh](QString&, uint16_t& port) {
            if (ssh->UseSSHTunnels())
                port = ssh->DataSnapTunnelPort();
        };
        return ds;
    }

    // A raw request on the module's session (admin hooks of the reference server).
    int AdminPost(TDSConnection& conn, const char* path, const std::string& body) {
        httplib::Client client("127.0.0.1", FSsh->DataSnapTunnelPort());
        httplib::Headers headers{
            {"Authorization", DSProtocol::BasicAuthorization(User(), Password()).toStdString()},
            {DSProtocol::SessionHeader, conn.SessionId().toStdString()}};
        auto res = client.Post(path, headers, body, "text/plain");
        return res ? res->status : -1;
    }

    static QString FileMD5(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return QString();
        QCryptographicHash md5(QCryptographicHash::Md5);
        md5.addData(&f);
        return QString::fromLatin1(md5.result().toHex());
    }

private slots:
    void initTestCase() {
        QVERIFY2(Env.Load(), qPrintable(Env.Error()));
        QVERIFY(!Env.Value(QStringLiteral("TV_APPSERVER_PORT")).isEmpty());
        FEnv = TItem::Create<TEnvironment>();
        FEnv->SetSSHAddress(Env.Value(QStringLiteral("TV_SSH_HOST")));
        FEnv->SetSSHPort(Env.Port(QStringLiteral("TV_SSH_PORT")));
        FEnv->SetDBAddress(Env.Value(QStringLiteral("TV_DB_HOST")));
        FEnv->SetDBPort(Env.Port(QStringLiteral("TV_DB_PORT")));
        FEnv->SetDBSchema(Env.Value(QStringLiteral("TV_DB_SCHEMA")));
        FEnv->SetDataSnapAddress(Env.Value(QStringLiteral("TV_APPSERVER_HOST")));
        FEnv->SetDataSnapPort(Env.Port(QStringLiteral("TV_APPSERVER_PORT")));
        FEnv->SetUseSSHTunnels(true);
        FSsh = std::make_unique<TSSHClientModule>();
        QVERIFY(FSsh->Connect(User(), Password(), FEnv.get()));
        FDs = NewModule();
        TDataSnapConnectTask task(FDs.get(), User(), Password(), FEnv.get());
        QCOMPARE(task.Caption(), QStringLiteral("Csatlakozás az alkalmazás szerverre..."));
        task.Execute();
        QVERIFY(FDs->Connected());
        QCOMPARE(FDs->SrvConn().HostName, QStringLiteral("localhost"));
        QCOMPARE(FDs->SrvConn().Port, FSsh->DataSnapTunnelPort());
        QVERIFY(FDs->PackagesClient()->IsOpen());
        FPackage = QStringLiteral("Próba\\%1\\Csomag").arg(QCoreApplication::applicationPid());
    }

    void cleanupTestCase() {
        if (FDs)
            FDs->Disconnect();
        if (FSsh)
            FSsh->Disconnect();
    }

    // Client initialisation, then the server's client list shows this login.
    void sessionAndClients() {
        TSessionInfoClient* session = FDs->SessionInfoClient();
        session->InitializeClient2(FSsh->SessionId());
        session->SetApplication(QStringLiteral("Tarvolin - Indítópult"), QStringLiteral("1.0.0.1"));
        session->SetDocumentPath(User(), Password(), FEnv->DBSchema());
        FDs->LoadServerClients();
        TClients& clients = FDs->ServerClients();
        QVERIFY(clients.Count() >= 1);
        bool found = false;
        TClientsEnumerator e = clients.GetEnumerator();
        while (e.MoveNext()) {
            TClient* c = e.Current();
            if (c->Id() != FDs->SrvConn().SessionId())
                continue;
            found = true;
            QCOMPARE(c->UserName(), User());
            QCOMPARE(c->Application(), QStringLiteral("Tarvolin - Indítópult"));
            QCOMPARE(c->Version(), QStringLiteral("1.0.0.1"));
            QCOMPARE(c->Address(), QStringLiteral("127.0.0.1"));
            QVERIFY(qAbs(c->Started().ToDateTime().secsTo(QDateTime::currentDateTime())) < 600);
        }
        QVERIFY(found);
    }

    void getClientsNotAnArray() {
        QCOMPARE(AdminPost(FDs->SrvConn(), "/datasnap/admin/clientsshape", "object"), 200);
        auto restore = qScopeGuard(
            [this] { AdminPost(FDs->SrvConn(), "/datasnap/admin/clientsshape", "array"); });
        FDs->ServerClients().NewClient();
        FDs->LoadServerClients();
        QCOMPARE(FDs->ServerClients().Count(), 0);
    }

    // The catalogue methods of the package synchronisation, in their order.
    void catalogue() {
        TPackagesClient* p = FDs->PackagesClient();
        p->Load();
        QCOMPARE(p->GetPackageVersion(FPackage), QString());
        p->BeginUpdate();
        p->CreatePackage(FPackage, QStringLiteral("1.9"));
        p->CreatePackage(FPackage, QStringLiteral("1.10"));
        p->SetPackageDescription(FPackage, QStringLiteral("1.10"), QStringLiteral("Leírás ő"));
        p->SetPackageDeployDate(FPackage, QStringLiteral("1.10"), TDateTime(45000.5));
        p->SetPackageUpdateDate(FPackage, QStringLiteral("1.10"), TDateTime(45001.25));
        p->CreateFile(FPackage, QStringLiteral("1.10"), QStringLiteral("a.dll"));
        p->CreateFile(FPackage, QStringLiteral("1.10"), QStringLiteral("b.txt"));
        p->SetFileFolderName(FPackage, QStringLiteral("1.10"), QStringLiteral("a.dll"),
                             QStringLiteral("bin\\x64"));
        p->SetFileMD5Hash(FPackage, QStringLiteral("1.10"), QStringLiteral("a.dll"),
                          QStringLiteral("ABCDEF"));
        p->SetFileDescription(FPackage, QStringLiteral("1.10"), QStringLiteral("a.dll"),
                              QStringLiteral("könyvtár"));
        p->EndUpdate();
        QCOMPARE(p->GetPackageVersion(FPackage), QStringLiteral("1.10"));
        QCOMPARE(p->GetPackageDescription(FPackage, QStringLiteral("1.10")),
                 QStringLiteral("Leírás ő"));
        QCOMPARE(p->GetPackageDeployDate(FPackage, QStringLiteral("1.10")), TDateTime(45000.5));
        QCOMPARE(p->GetPackageUpdateDate(FPackage, QStringLiteral("1.10")), TDateTime(45001.25));
        QCOMPARE(p->GetFileNames(FPackage, QStringLiteral("1.10")),
                 QStringLiteral("a.dll\r\nb.txt\r\n"));
        QCOMPARE(p->GetFileFolderName(FPackage, QStringLiteral("1.10"), QStringLiteral("a.dll")),
                 QStringLiteral("bin\\x64"));
        QCOMPARE(p->GetFileMD5Hash(FPackage, QStringLiteral("1.10"), QStringLiteral("a.dll")),
                 QStringLiteral("ABCDEF"));
        QCOMPARE(p->GetFileDescription(FPackage, QStringLiteral("1.10"), QStringLiteral("a.dll")),
                 QStringLiteral("könyvtár"));
        p->DeleteFile(FPackage, QStringLiteral("1.10"), QStringLiteral("b.txt"));
        QCOMPARE(p->GetFileNames(FPackage, QStringLiteral("1.10")), QStringLiteral("a.dll\r\n"));
        p->SetPackageVersion(FPackage, QStringLiteral("1.9"), QStringLiteral("1.8"));
        p->DeletePackage(FPackage, QStringLiteral("1.8"));
        QVERIFY(p->GetPackageNames().contains(FPackage));
        // A server error arrives with the server's message.
        try {
            p->GetPackageDescription(FPackage, QStringLiteral("9.9"));
            QFAIL("no error");
        } catch (const EDSServerError& e) {
            QVERIFY(e.Message().contains(QStringLiteral("9.9 verziójú csomag")));
        }
        QVERIFY(FDs->Connected());
    }

    // 50 MiB up and down through the tunnel with progress reported, the
    // server's resources released after each transfer.
    void bigTransfers() {
        const QString source = FDir.filePath(QStringLiteral("big.bin"));
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QByteArray block(1024 * 1024, Qt::Uninitialized);
            for (int i = 0; i < 50; ++i) {
                QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(block.data()),
                                                      block.size() / 4);
                f.write(block);
            }
        }
        const QString md5 = FileMD5(source);
        TPackagesClient* p = FDs->PackagesClient();
        {
            TMeasuredFileStream up(source, fmOpenRead | fmShareDenyWrite);
            int reads = 0;
            up.OnRead = [&reads](TMeasuredFileStream&, qint64) { ++reads; };
            p->UpLoadFile(FPackage, QStringLiteral("1.10"), QStringLiteral("big.bin"), &up);
            QCOMPARE(up.ReadProgress().TotalBytes(), BigSize);
            QCOMPARE(up.ReadProgress().BytesTransfered(), BigSize);
            QVERIFY(up.ReadProgress().IsFinished());
            QVERIFY(reads >= int(BigSize / 16384));
        }
        QCOMPARE(FDs->SrvConn().ServerResourceCount(), 0);
        QCOMPARE(p->GetFileMD5Hash(FPackage, QStringLiteral("1.10"), QStringLiteral("big.bin")),
                 md5);
        const QString target = FDir.filePath(QStringLiteral("down.bin"));
        {
            TMeasuredFileStream down(target, fmCreate);
            QList<qint64> counts;
            down.OnWrite = [&counts](TMeasuredFileStream&, qint64 n) { counts << n; };
            p->DownLoadFile(FPackage, QStringLiteral("1.10"), QStringLiteral("big.bin"), &down);
            QCOMPARE(down.WriteProgress().TotalBytes(), BigSize);
            QCOMPARE(down.WriteProgress().BytesTransfered(), BigSize);
            QVERIFY(down.WriteProgress().IsFinished());
            QCOMPARE(counts.size(), int(BigSize / 16384));
            QCOMPARE(counts.first(), qint64(16384));
        }
        QCOMPARE(FDs->SrvConn().ServerResourceCount(), 0);
        QCOMPARE(FileMD5(target), md5);
        // The local-file variant makes the folder and replaces the file.
        const QString nested = FDir.filePath(QStringLiteral("a/b/c/big.bin"));
        p->DownLoadFile(FPackage, QStringLiteral("1.10"), QStringLiteral("big.bin"), nested);
        QCOMPARE(FileMD5(nested), md5);
        QCOMPARE(FDs->SrvConn().ServerResourceCount(), 0);
    }

    void emptyDownload() {
        TPackagesClient* p = FDs->PackagesClient();
        const QString empty = FDir.filePath(QStringLiteral("empty.bin"));
        QFile(empty).open(QIODevice::WriteOnly);
        p->UpLoadFile(FPackage, QStringLiteral("1.10"), QStringLiteral("empty.bin"), empty);
        const QString target = FDir.filePath(QStringLiteral("got-empty.bin"));
        {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("régi tartalom");
        }
        p->DownLoadFile(FPackage, QStringLiteral("1.10"), QStringLiteral("empty.bin"), target);
        QCOMPARE(QFileInfo(target).size(), qint64(0));
        QCOMPARE(FDs->SrvConn().ServerResourceCount(), 0);
    }

    // A failed transfer still releases the server's resources.
    void failedDownloadReleases() {
        TPackagesClient* p = FDs->PackagesClient();
        QBuffer dest;
        dest.open(QIODevice::WriteOnly);
        QVERIFY_THROWS_EXCEPTION(
            EDSServerError,
            p->DownLoadFile(FPackage, QStringLiteral("1.10"), QStringLiteral("nincs.bin"), &dest));
        QCOMPARE(FDs->SrvConn().ServerResourceCount(), 0);
        QVERIFY(FDs->Connected());
    }

    void clearServerResources() {
        TDSServerMethod cmd(FDs->SrvConn(), QStringLiteral("TPackagesServer.DownLoadFile"));
        cmd.Prepare();
        cmd.SetText(0, FPackage);
        cmd.SetText(1, QStringLiteral("1.10"));
        cmd.SetText(2, QStringLiteral("a.dll"));
        QVERIFY_THROWS_EXCEPTION(EDSServerError, cmd.Execute()); // no content yet
        QByteArray content("dll");
        QBuffer source(&content);
        source.open(QIODevice::ReadOnly);
        TDSServerMethod up(FDs->SrvConn(), QStringLiteral("TPackagesServer.UpLoadFile"));
        up.Prepare();
        up.SetText(0, FPackage);
        up.SetText(1, QStringLiteral("1.10"));
        up.SetText(2, QStringLiteral("a.dll"));
        up.SetStream(3, &source, content.size());
        up.Execute();
        cmd.Execute();
        QCOMPARE(cmd.GetStreamBytes(3), content);
        QCOMPARE(cmd.GetInt64(4), qint64(3));
        QCOMPARE(FDs->SrvConn().ServerResourceCount(), 2);
        QVERIFY(FDs->ServerInfoClient()->ClearServerResources());
        QCOMPARE(FDs->SrvConn().ServerResourceCount(), 0);
        // Re-binding the same connection releases nothing.
        up.Execute();
        FDs->PackagesClient()->SetConnection(&FDs->SrvConn());
        QCOMPARE(FDs->SrvConn().ServerResourceCount(), 1);
        FDs->PackagesClient()->ClearServerResources();
    }

    // Tickets go by their name alone.
    void ticketUpload() {
        const QString folder = FDir.filePath(QStringLiteral("Errors"));
        QDir().mkpath(folder);
        const QString name =
            QStringLiteral("tarvolin_hiba_%1_000.xml").arg(QCoreApplication::applicationPid());
        const QString path = folder + QLatin1Char('/') + name;
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?><TarvolinError/>");
        }
        TErrorRiportClient* tickets = FDs->ErrorRiportClient();
        {
            TMeasuredFileStream stream(path, fmOpenRead | fmShareDenyWrite);
            tickets->UpLoadFile(path, &stream);
            QVERIFY(stream.ReadProgress().IsFinished());
        }
        QCOMPARE(FDs->SrvConn().ServerResourceCount(), 0);
        const QString stored =
            Env.Value(QStringLiteral("TV_APPSERVER_DATA")) + QStringLiteral("/tickets/") + name;
        QCOMPARE(FileMD5(stored), FileMD5(path));
        QStringList names;
        tickets->ListOfErrorRiports(names);
        QVERIFY(names.contains(name));
        QBuffer back;
        back.open(QIODevice::WriteOnly);
        tickets->DownLoadFile(name, &back);
        QVERIFY(back.data().contains("TarvolinError"));
        tickets->DeleteFile(name);
        QVERIFY(!QFileInfo::exists(stored));
        QVERIFY_THROWS_EXCEPTION(EDSServerError, tickets->DeleteFile(QStringLiteral("../x")));
    }

    void documents() {
        TDocumentClient* docs = FDs->DocumentClient();
        const QString name =
            QStringLiteral("szerződések\\%1.txt").arg(QCoreApplication::applicationPid());
        QVERIFY(docs->CheckCreateFile(name));
        QVERIFY(!docs->FileExists(name));
        const QString local = FDir.filePath(QStringLiteral("doc.txt"));
        {
            QFile f(local);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(100000, 'd'));
        }
        struct TProgress : IDocumentProgress {
            qint64 Max = -1, Pos = -1;
            QString Text;
            void SetRange(qint64 m) override { Max = m; }
            void SetPosition(qint64 p) override { Pos = p; }
            void SetText(const QString& t) override { Text = t; }
        } progress;
        docs->UpLoadFile(local, name, &progress);
        QCOMPARE(progress.Max, qint64(100000));
        QCOMPARE(progress.Pos, qint64(100000));
        QVERIFY(progress.Text.startsWith(QStringLiteral("Fájl feltöltése: doc.txt.\r\n")));
        QVERIFY(docs->FileExists(name));
        const QString back = FDir.filePath(QStringLiteral("doc-back.txt"));
        docs->DownLoadFile(back, name, &progress);
        QCOMPARE(QFileInfo(back).size(), qint64(100000));
        QVERIFY(progress.Text.startsWith(QStringLiteral("Fájl letöltése: doc-back.txt.\r\n")));
        QCOMPARE(FDs->SrvConn().ServerResourceCount(), 0);
    }

    void wrongPasswordRefused() {
        auto ds = NewModule();
        try {
            ds->Connect(User(), QStringLiteral("nem-jo"), FEnv.get());
            QFAIL("a wrong password was accepted");
        } catch (const EDSAuthenticationError& e) {
            QVERIFY(e.Message().contains(QStringLiteral("sikertelen")));
        }
        QVERIFY(!ds->Connected());
    }

    void unreachableServerIsSocketError() {
        auto ds = std::make_unique<TDataSnapClientModule>();
        ds->OnGetDataSnapAddress = [](QString& address, uint16_t& port) {
            address = QStringLiteral("127.0.0.1");
            port = 1; // nothing listens there
        };
        QVERIFY_THROWS_EXCEPTION(EDSSocketError, ds->Connect(User(), Password(), FEnv.get()));
        QVERIFY(!ds->Connected());
    }

    // A session the server no longer knows is a connection the peer closed:
    // the call fails with its own class and the module reports the drop.
    void peerClosedSession() {
        auto ds = NewModule();
        QVERIFY(ds->Connect(User(), Password(), FEnv.get()));
        int drops = 0;
        ds->SrvConn().OnAfterDisconnect = [&drops] { ++drops; };
        QCOMPARE(AdminPost(ds->SrvConn(), "/datasnap/disconnect", ""), 200);
        QVERIFY_THROWS_EXCEPTION(EDSConnClosedGracefully,
                                 ds->PackagesClient()->GetPackageVersion(FPackage));
        QCOMPARE(drops, 1);
        QVERIFY(!ds->Connected());
        QVERIFY(!ds->PackagesClient()->ClearServerResources());
        ds->Disconnect(); // raises nothing
    }

    // After idling the next call goes on a new connection and still works.
    void idleConnectionIsRenewed() {
        FDs->SrvConn().IdleReconnectMs = 200;
        auto restore = qScopeGuard([this] { FDs->SrvConn().IdleReconnectMs = 20000; });
        QTest::qWait(400);
        QCOMPARE(FDs->PackagesClient()->GetPackageVersion(FPackage), QStringLiteral("1.10"));
        QTest::qWait(400);
        QVERIFY(FDs->ServerInfoClient()->ClearServerResources());
        QVERIFY(FDs->Connected());
    }

    void cleanupCatalogue() {
        FDs->PackagesClient()->DeletePackage(FPackage, QStringLiteral("1.10"));
        QCOMPARE(FDs->PackagesClient()->GetPackageVersion(FPackage), QString());
    }
};

QTEST_MAIN(TestDataSnapIntegration)
#include "tst_DataSnapIntegration.moc"
