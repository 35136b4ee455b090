// ctest-label: integration
// ctest-timeout: 300
// Synchronisation against the reference application server: the packages it
// publishes for the starter, and test packages published by the test.
#include "Client/Common/Packages/PackagesClientService.h"
#include "Common/Environments/Environments.h"
#include "Common/Files/FileUtils.h"
#include "Common/Util/SysUtilsEx.h"
#include "Platform/Archive/SevenZip.h"
#include "Support/RefEnv.h"
#include "Support/TempAppData.h"

#include <QDir>
#include <QDomDocument>
#include <QProcess>
#include <QTest>
#include <QUuid>

namespace {

// Counts the downloads that reach the server.
class TCountingService : public TPackagesClientService {
public:
    using TPackagesClientService::TPackagesClientService;
    int Downloads = 0;
    void DownLoadFile(const QString& name, const QString& version, const QString& fileName,
                      QIODevice& dest) override {
        ++Downloads;
        TPackagesClientService::DownLoadFile(name, version, fileName, dest);
    }
};

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

class TestPackageSyncRefEnv : public QObject {
    Q_OBJECT

    TRefEnv FEnv;
    std::unique_ptr<TDSConnection> FConnection;
    std::unique_ptr<TPackagesClient> FProxy;
    std::unique_ptr<TTempAppData> FData;
    std::unique_ptr<TClientPackageManager> FManager;
    TCountingService* FService = nullptr;
    QString FPath;

    QString Downloaded(const QString& rel = QString()) const {
        return PathHelper().GetPath(TPathHelper::piDownloadedFiles) + rel;
    }
    std::unique_ptr<TClientPackageManager> NewManager() {
        auto manager = TItem::Create<TClientPackageManager>();
        FService = new TCountingService(FProxy.get(), manager.get());
        manager->SetClient(FService);
        return manager;
    }
    // Publishes the files (relative path -> content) as a package.
    void Publish(const QString& name, const QString& version,
                 const QMap<QString, QByteArray>& files) {
        QTemporaryDir from;
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            QDir().mkpath(QFileInfo(from.filePath(it.key())).path());
            WriteWholeFile(from.filePath(it.key()), it.value());
        }
        QProcess p;
        p.start(FEnv.Value(QStringLiteral("TV_APPSERVER_BIN")),
                {QStringLiteral("publish"), QStringLiteral("--data"),
                 FEnv.Value(QStringLiteral("TV_APPSERVER_DATA")), QStringLiteral("--name"), name,
                 QStringLiteral("--version"), version, QStringLiteral("--from"), from.path(),
                 QStringLiteral("--description"), QStringLiteral("teszt")});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
    }
    static QString UniqueName() {
        return QStringLiteral("Teszt-") + QUuid::createUuid().toString(QUuid::Id128).left(8);
    }

private slots:
    void initTestCase() {
        QVERIFY2(FEnv.Load(), qPrintable(FEnv.Error()));
        FConnection = std::make_unique<TDSConnection>();
        FConnection->HostName = FEnv.Value(QStringLiteral("TV_APPSERVER_HOST"));
        FConnection->Port = FEnv.Port(QStringLiteral("TV_APPSERVER_PORT"));
        FConnection->User = FEnv.Value(QStringLiteral("TV_DEMO_USER"));
        FConnection->Password = FEnv.Value(QStringLiteral("TV_DEMO_PASSWORD"));
        FConnection->Open();
        FProxy = std::make_unique<TPackagesClient>();
        FProxy->SetConnection(FConnection.get());
        FPath = GetEnvironmentVariable(QStringLiteral("PATH"));
    }
    void cleanupTestCase() {
        FProxy.reset();
        if (FConnection)
            FConnection->Close();
    }
    void init() {
        FData = std::make_unique<TTempAppData>();
        FManager = NewManager();
    }
    void cleanup() {
        SetEnvironmentVariable(QStringLiteral("PATH"), FPath);
        FManager.reset();
        FData.reset();
    }

    void firstSyncInstallsEveryPackageThenResetRemovesThem() {
        auto env = TItem::Create<TEnvironment>();
        env->SetSSHAddress(FEnv.Value(QStringLiteral("TV_SSH_HOST")));
        env->SetDBSchema(FEnv.Value(QStringLiteral("TV_DB_SCHEMA")));
        const QString client =
            TClientPackageManager::ServerSpecificPkgName(QStringLiteral("Tarvolin"), *env);
        const QString help =
            TClientPackageManager::ServerSpecificPkgName(QStringLiteral("TarvolinHelp"), *env);
        QCOMPARE(client, QStringLiteral("127.0.0.1/VELMAR_PROD/Tarvolin"));

        // As the connect tasks do: the engine's package first, its folder first on PATH.
        FManager->UpdateClientPackage(QStringLiteral("7Zip"));
        const QString engineFolder = FManager->GetPackageFolder(QStringLiteral("7Zip"));
        QCOMPARE(engineFolder, Downloaded(QStringLiteral("7Zip")));
        PrependToPath(engineFolder);
        QCOMPARE(TSevenZipArchive::FindEngine(), engineFolder + QStringLiteral("/7zz"));
        for (const QString& name :
             {QStringLiteral("Oracle"), client, help, QStringLiteral("TarvolinAdmin")})
            FManager->UpdateClientPackage(name);
        QCOMPARE(FManager->Count(), 5);
        QVERIFY(FService->Downloads >= 5);

        QVERIFY(QFileInfo(Downloaded(QStringLiteral("7Zip/7zz"))).isExecutable());
        QCOMPARE(FManager->GetPackageFolder(QStringLiteral("Oracle")),
                 Downloaded(QStringLiteral("Oracle")));
        QVERIFY(QFile::exists(Downloaded(QStringLiteral("Oracle/libpq.so.5"))));
        QVERIFY(
            QFileInfo(Downloaded(QStringLiteral("127.0.0.1/VELMAR_PROD/Tarvolin"))).isExecutable());
        QCOMPARE(Entries(Downloaded(QStringLiteral("127.0.0.1/VELMAR_PROD/Help"))),
                 QStringList{"index.html"});
        QVERIFY(QFileInfo(FManager->FindLatestByName(QStringLiteral("TarvolinAdmin"))
                              ->Files()
                              .first()
                              ->Path())
                    .isExecutable());
        QCOMPARE(Entries(FData->TempPath()), QStringList());

        // Equal versions with intact files download nothing, also after a new start.
        auto again = NewManager();
        again->Load();
        QCOMPARE(again->Count(), 5);
        for (const QString& name : {QStringLiteral("7Zip"), QStringLiteral("Oracle"), client, help,
                                    QStringLiteral("TarvolinAdmin")})
            again->UpdateClientPackage(name);
        QCOMPARE(FService->Downloads, 0);

        // The reset removes every package and saves an empty catalogue.
        SetEnvironmentVariable(QStringLiteral("PATH"), FPath);
        QStringList errors;
        again->OnResetError = [&](const std::exception& e) { errors << ExceptionMessage(e); };
        again->Reset();
        QCOMPARE(errors, QStringList());
        for (const QString& folder :
             {QStringLiteral("7Zip"), QStringLiteral("Oracle"),
              QStringLiteral("127.0.0.1/VELMAR_PROD"), QStringLiteral("TarvolinAdmin")})
            QVERIFY2(QDir(Downloaded(folder)).entryList(QDir::Files).isEmpty(), qPrintable(folder));
        QVERIFY(!QFileInfo::exists(Downloaded(QStringLiteral("127.0.0.1/VELMAR_PROD/Help"))));
        QDomDocument doc;
        QVERIFY(doc.setContent(ReadWholeFile(FData->FilePath(QStringLiteral("Packages.xml")))));
        QVERIFY(doc.documentElement()
                    .firstChildElement(QStringLiteral("TClientPackageEnumerator"))
                    .firstChildElement()
                    .isNull());
    }

    void newerVersionAndDamagedFileReinstall() {
        const QString name = UniqueName();
        Publish(name, QStringLiteral("1.9"),
                {{name + QStringLiteral("/app.bin"), "version 1.9"},
                 {name + QStringLiteral("/data.txt"), "data 1.9"}});
        FManager->UpdateClientPackage(name);
        QCOMPARE(ReadWholeFile(Downloaded(name + QStringLiteral("/app.bin"))),
                 QByteArray("version 1.9"));
        QCOMPARE(FService->Downloads, 2);

        // A damaged checked file: the same version again.
        WriteWholeFile(Downloaded(name + QStringLiteral("/data.txt")), "damaged");
        FService->Downloads = 0;
        FManager->UpdateClientPackage(name);
        QCOMPARE(FService->Downloads, 2);
        QCOMPARE(ReadWholeFile(Downloaded(name + QStringLiteral("/data.txt"))),
                 QByteArray("data 1.9"));

        // A newer version on the server (by the length of its text).
        Publish(name, QStringLiteral("1.10"),
                {{name + QStringLiteral("/app.bin"), "version 1.10"},
                 {name + QStringLiteral("/data.txt"), "data 1.10"}});
        FService->Downloads = 0;
        FManager->UpdateClientPackage(name);
        QCOMPARE(FService->Downloads, 2);
        QCOMPARE(ReadWholeFile(Downloaded(name + QStringLiteral("/app.bin"))),
                 QByteArray("version 1.10"));
        QCOMPARE(FManager->FindByName(name).size(), 1);
        QCOMPARE(FManager->FindLatestByName(name)->Version(), QStringLiteral("1.10"));
    }

    void failingItemRollsBackEveryFile() {
        const QString name = UniqueName();
        Publish(name, QStringLiteral("1.0"),
                {{name + QStringLiteral("/a.txt"), "a 1.0"},
                 {name + QStringLiteral("/b.txt"), "b 1.0"},
                 {name + QStringLiteral("/pages/pages.7z"), "7z\xBC\xAF\x27\x1C damaged"}});
        QVERIFY_THROWS_EXCEPTION(ECustom, FManager->UpdateClientPackage(name));
        QVERIFY(!QFile::exists(Downloaded(name + QStringLiteral("/a.txt"))));
        QVERIFY(!QFile::exists(FData->FilePath(QStringLiteral("Packages.xml"))));

        Publish(name, QStringLiteral("1.0"),
                {{name + QStringLiteral("/a.txt"), "a 1.0"},
                 {name + QStringLiteral("/b.txt"), "b 1.0"}});
        FManager = NewManager();
        FManager->Load();
        FManager->UpdateClientPackage(name);
        const QByteArray catalogue = ReadWholeFile(FData->FilePath(QStringLiteral("Packages.xml")));
        Publish(name, QStringLiteral("1.1"),
                {{name + QStringLiteral("/a.txt"), "a 1.1"},
                 {name + QStringLiteral("/b.txt"), "b 1.1"},
                 {name + QStringLiteral("/pages/pages.7z"), "7z\xBC\xAF\x27\x1C damaged"}});
        QVERIFY_THROWS_EXCEPTION(ECustom, FManager->UpdateClientPackage(name));
        QCOMPARE(ReadWholeFile(Downloaded(name + QStringLiteral("/a.txt"))), QByteArray("a 1.0"));
        QCOMPARE(ReadWholeFile(Downloaded(name + QStringLiteral("/b.txt"))), QByteArray("b 1.0"));
        // The archive's folder was made while staging; nothing was unpacked into it.
        QCOMPARE(Entries(Downloaded(name + QStringLiteral("/pages"))), QStringList());
        QCOMPARE(Entries(Downloaded(name)), (QStringList{"a.txt", "b.txt", "pages"}));
        QCOMPARE(ReadWholeFile(FData->FilePath(QStringLiteral("Packages.xml"))), catalogue);
        QCOMPARE(Entries(FData->TempPath()), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPackageSyncRefEnv)
#include "tst_PackageSyncRefEnv.moc"
