// ctest-label: unit
// ctest-timeout: 120
// ctest-sources: ../Installer/ArchiveMaker.cpp
#include "../Installer/ArchiveMaker.h"
#include "Common/Environments/Environments.h"
#include "Common/Files/FileUtils.h"
#include "Common/Repository/ObjXmlPersist.h"
#include "FakePackagesService.h"
#include "Support/TempAppData.h"

#include <QDir>
#include <QDomDocument>
#include <QTest>

namespace {

using TFile = TFakePackagesService::TFile;

QStringList ChildNames(const QDomElement& e) {
    QStringList names;
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
        names << c.tagName();
    return names;
}

} // namespace

class TestPackageSync : public QObject {
    Q_OBJECT

    std::unique_ptr<TTempAppData> FData;
    std::unique_ptr<TFakePackagesService> FServer;
    std::unique_ptr<TClientPackageManager> FManager;
    QString FDownloaded;
    QByteArray FHelpArchive;

    QString Downloaded(const QString& rel) const { return FDownloaded + rel; }

    void PublishTarvolin(const QString& version, const QByteArray& exe = "client v1") {
        FServer->Publish(
            QStringLiteral("Tarvolin"), version,
            {{QStringLiteral("Tarvolin"),
              TFile{exe, QStringLiteral("gw\\SCHEMA"), "client", "auto"}},
             {QStringLiteral("Tarvolin.map"),
              TFile{"map " + version.toUtf8(), QStringLiteral("gw\\SCHEMA"), "map", "auto"}},
             {QStringLiteral("readme.txt"),
              TFile{"unchecked", QStringLiteral("gw\\SCHEMA"), "", ""}}});
    }
    std::unique_ptr<TClientPackageManager> NewManager() {
        auto manager = TItem::Create<TClientPackageManager>();
        manager->SetClient(FServer.get());
        return manager;
    }

private slots:
    void initTestCase() {
        // The help archive: two files in a folder of its own.
        QTemporaryDir dir;
        WriteWholeFile(dir.filePath(QStringLiteral("index.html")), "<html/>");
        WriteWholeFile(dir.filePath(QStringLiteral("page.html")), "<p/>");
        Make7z(dir.filePath(QStringLiteral("Help.7z")), dir.path(),
               {QStringLiteral("index.html"), QStringLiteral("page.html")});
        FHelpArchive = ReadWholeFile(dir.filePath(QStringLiteral("Help.7z")));
        QVERIFY(!FHelpArchive.isEmpty());
    }
    void init() {
        FData = std::make_unique<TTempAppData>();
        FServer = std::make_unique<TFakePackagesService>();
        FManager = NewManager();
        FDownloaded = PathHelper().GetPath(TPathHelper::piDownloadedFiles);
    }
    void cleanup() {
        FManager.reset();
        FServer.reset();
        FData.reset();
    }

    void firstSyncInstallsAndSaves() {
        PublishTarvolin(QStringLiteral("1.0"));
        const TDateTime before = TDateTime::Now();
        FManager->UpdateClientPackage(QStringLiteral("Tarvolin"));
        QCOMPARE(FServer->Loads, 1);
        QCOMPARE(FServer->Downloads, 3);
        QCOMPARE(ReadWholeFile(Downloaded(QStringLiteral("gw/SCHEMA/Tarvolin"))),
                 QByteArray("client v1"));
        QCOMPARE(FManager->FindByName(QStringLiteral("Tarvolin")).size(), 1);
        TPackage* p = FManager->FindLatestByName(QStringLiteral("Tarvolin"));
        QCOMPARE(p->Version(), QStringLiteral("1.0"));
        QCOMPARE(p->Description(), QStringLiteral("Tarvolin csomag"));
        QVERIFY(p->DeployDate() >= before && p->UpdateDate() >= before);
        QCOMPARE(FManager->GetPackageFolder(QStringLiteral("Tarvolin")),
                 Downloaded(QStringLiteral("gw/SCHEMA")));
        QCOMPARE(QDir(FData->TempPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());

        // The catalogue file in the persistence engine's form.
        QDomDocument doc;
        QVERIFY(doc.setContent(ReadWholeFile(FData->FilePath(QStringLiteral("Packages.xml")))));
        const QDomElement root = doc.documentElement();
        QCOMPARE(root.tagName(), QStringLiteral("TClientPackageManager"));
        QCOMPARE(root.attribute(QStringLiteral("version")), QStringLiteral("1.0"));
        const QDomElement pkg = root.firstChildElement(QStringLiteral("TClientPackageEnumerator"))
                                    .firstChildElement(QStringLiteral("TClientPackage"));
        QCOMPARE(pkg.attribute(QStringLiteral("version")), QStringLiteral("1.0"));
        QCOMPARE(ChildNames(pkg), (QStringList{"PkgName", "Version", "DeployDate", "UpdateDate",
                                               "Description", "TClientPackageFileEnumerator"}));
        const QDomElement file =
            pkg.firstChildElement(QStringLiteral("TClientPackageFileEnumerator"))
                .firstChildElement(QStringLiteral("TClientPackageFile"));
        QCOMPARE(ChildNames(file),
                 (QStringList{"MD5Hash", "FileName", "FolderName", "Description"}));
        QCOMPARE(file.firstChildElement(QStringLiteral("FolderName")).text(),
                 QStringLiteral("gw\\SCHEMA"));

        // Read back: every member and the paths are the same.
        auto again = NewManager();
        again->Load();
        TPackage* q = again->FindLatestByName(QStringLiteral("Tarvolin"));
        QCOMPARE(q->Version(), p->Version());
        // Dates are stored to the second.
        const double ms = 1000.0 / TDateTime::MSecsPerDay;
        QVERIFY(qAbs(q->DeployDate().Value() - p->DeployDate().Value()) < ms);
        QVERIFY(qAbs(q->UpdateDate().Value() - p->UpdateDate().Value()) < ms);
        QCOMPARE(q->Count(), 3);
        for (TPackageFile* f : p->Files()) {
            auto* g = static_cast<TPackageFile*>(q->Find(f->FileName()));
            QCOMPARE(g->Path(), f->Path());
            QCOMPARE(g->MD5Hash(), f->MD5Hash());
            QCOMPARE(g->Description(), f->Description());
        }
        // In step: nothing is downloaded.
        FServer->Downloads = 0;
        again->UpdateClientPackage(QStringLiteral("Tarvolin"));
        QCOMPARE(FServer->Downloads, 0);
    }

    void decision_data() {
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("damage"); // "change", "delete unchecked", "" or "drop record"
        QTest::addColumn<bool>("reinstalls");
        QTest::newRow("server newer by length") << "1.9"
                                                << "1.10"
                                                << "" << true;
        QTest::newRow("server older, intact") << "1.10"
                                              << "1.9"
                                              << "" << false;
        QTest::newRow("server older, damaged") << "1.10"
                                               << "1.9"
                                               << "change" << true;
        QTest::newRow("equal, intact") << "1.0"
                                       << "1.0"
                                       << "" << false;
        QTest::newRow("equal, checked file changed") << "1.0"
                                                     << "1.0"
                                                     << "change" << true;
        QTest::newRow("equal, checked file deleted") << "1.0"
                                                     << "1.0"
                                                     << "delete checked" << true;
        QTest::newRow("equal, unchecked file deleted") << "1.0"
                                                       << "1.0"
                                                       << "delete unchecked" << false;
        QTest::newRow("equal, server lists a file the record lacks") << "1.0"
                                                                     << "1.0"
                                                                     << "drop record" << true;
    }
    void decision() {
        QFETCH(QString, local);
        QFETCH(QString, server);
        QFETCH(QString, damage);
        QFETCH(bool, reinstalls);
        PublishTarvolin(local, "client " + local.toUtf8());
        FManager->UpdateClientPackage(QStringLiteral("Tarvolin"));
        if (damage == QLatin1String("change"))
            WriteWholeFile(Downloaded(QStringLiteral("gw/SCHEMA/Tarvolin")), "damaged");
        else if (damage == QLatin1String("delete checked"))
            QFile::remove(Downloaded(QStringLiteral("gw/SCHEMA/Tarvolin.map")));
        else if (damage == QLatin1String("delete unchecked"))
            QFile::remove(Downloaded(QStringLiteral("gw/SCHEMA/readme.txt")));
        else if (damage == QLatin1String("drop record")) {
            delete FManager->FindLatestByName(QStringLiteral("Tarvolin"))
                ->Find(QStringLiteral("Tarvolin.map"));
            FManager->Save();
        }
        PublishTarvolin(server, "client " + server.toUtf8());
        FServer->Downloads = 0;
        // A fresh start reads the catalogue file.
        FManager = NewManager();
        FManager->Load();
        FManager->UpdateClientPackage(QStringLiteral("Tarvolin"));
        QCOMPARE(FServer->Downloads, reinstalls ? 3 : 0);
        QCOMPARE(FManager->FindByName(QStringLiteral("Tarvolin")).size(), 1);
        const QString expected = reinstalls ? server : local;
        QCOMPARE(FManager->FindLatestByName(QStringLiteral("Tarvolin"))->Version(), expected);
        if (damage != QLatin1String("delete unchecked") || reinstalls)
            QCOMPARE(ReadWholeFile(Downloaded(QStringLiteral("gw/SCHEMA/Tarvolin"))),
                     reinstalls ? "client " + server.toUtf8() : "client " + local.toUtf8());
    }

    void archiveIsUnpackedAndNeverChecked() {
        FServer->Publish(
            QStringLiteral("TarvolinHelp"), QStringLiteral("1.0"),
            {{QStringLiteral("Help.7z"), TFile{FHelpArchive, QStringLiteral("Help"), "", "auto"}}});
        FManager->UpdateClientPackage(QStringLiteral("TarvolinHelp"));
        QCOMPARE(QDir(Downloaded(QStringLiteral("Help"))).entryList(QDir::Files),
                 (QStringList{"index.html", "page.html"}));
        QFile::remove(Downloaded(QStringLiteral("Help/page.html")));
        FServer->Downloads = 0;
        FManager->UpdateClientPackage(QStringLiteral("TarvolinHelp"));
        QCOMPARE(FServer->Downloads, 0);
    }

    void failingFileRollsBackEveryFile() {
        PublishTarvolin(QStringLiteral("1.0"));
        FManager->UpdateClientPackage(QStringLiteral("Tarvolin"));
        const QByteArray catalogue = ReadWholeFile(FData->FilePath(QStringLiteral("Packages.xml")));
        PublishTarvolin(QStringLiteral("1.1"), "client v2");
        FServer->FailDownloadOf = QStringLiteral("readme.txt");
        QVERIFY_THROWS_EXCEPTION(ECustom,
                                 FManager->UpdateClientPackage(QStringLiteral("Tarvolin")));
        QCOMPARE(ReadWholeFile(Downloaded(QStringLiteral("gw/SCHEMA/Tarvolin"))),
                 QByteArray("client v1"));
        QCOMPARE(ReadWholeFile(Downloaded(QStringLiteral("gw/SCHEMA/Tarvolin.map"))),
                 QByteArray("map 1.0"));
        QCOMPARE(ReadWholeFile(FData->FilePath(QStringLiteral("Packages.xml"))), catalogue);
        QCOMPARE(QDir(FData->TempPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
        // The next connection reads the old record again and tries once more.
        FServer->FailDownloadOf.clear();
        FManager = NewManager();
        FManager->Load();
        QCOMPARE(FManager->FindLatestByName(QStringLiteral("Tarvolin"))->Version(),
                 QStringLiteral("1.0"));
        FManager->UpdateClientPackage(QStringLiteral("Tarvolin"));
        QCOMPARE(ReadWholeFile(Downloaded(QStringLiteral("gw/SCHEMA/Tarvolin"))),
                 QByteArray("client v2"));
    }

    void noConnectionDoesNothing() {
        PublishTarvolin(QStringLiteral("1.0"));
        FServer->Open = false;
        FManager->UpdateClientPackage(QStringLiteral("Tarvolin"));
        FManager->SetClient(nullptr);
        FManager->UpdateClientPackage(QStringLiteral("Tarvolin"));
        QCOMPARE(FServer->Loads, 0);
        QCOMPARE(FManager->Count(), 0);
        // A destroyed client is forgotten.
        auto manager = NewManager();
        FServer.reset();
        QVERIFY(manager->Client() == nullptr);
        manager->UpdateClientPackage(QStringLiteral("Tarvolin"));
        FServer = std::make_unique<TFakePackagesService>();
    }

    void unknownPackageRaisesNotFound() {
        try {
            FManager->UpdateClientPackage(QStringLiteral("Nincs"));
            QFAIL("no error");
        } catch (const ERepository& e) {
            QCOMPARE(e.Message(), QStringLiteral("A TClientPackageManager nem található, nincsen "
                                                 "\"Nincs\" nevű elem a listában."));
        }
    }

    void badPackagesAreRefused_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("withFiles");
        QTest::newRow("archive without own folder") << "" << true;
        QTest::newRow("no files") << "X" << false;
    }
    void badPackagesAreRefused() {
        QFETCH(QString, folder);
        QFETCH(bool, withFiles);
        QList<QPair<QString, TFile>> files;
        if (withFiles)
            files.append({QStringLiteral("Help.7z"), TFile{FHelpArchive, folder, "", "auto"}});
        FServer->Publish(QStringLiteral("P"), QStringLiteral("1.0"), files);
        QVERIFY_THROWS_EXCEPTION(ECustom, FManager->UpdateClientPackage(QStringLiteral("P")));
        QCOMPARE(QDir(FDownloaded).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
        QVERIFY(!QFile::exists(FData->FilePath(QStringLiteral("Packages.xml"))));
    }

    void resetGoesOnAfterAFailure() {
        PublishTarvolin(QStringLiteral("1.0"));
        FServer->Publish(
            QStringLiteral("TarvolinHelp"), QStringLiteral("1.0"),
            {{QStringLiteral("Help.7z"), TFile{FHelpArchive, QStringLiteral("Help"), "", "auto"}}});
        FServer->Publish(
            QStringLiteral("Oracle"), QStringLiteral("15"),
            {{QStringLiteral("libpq.so.5"), TFile{"lib", QStringLiteral("Oracle"), "", "auto"}}});
        for (const char* name : {"Tarvolin", "TarvolinHelp", "Oracle"})
            FManager->UpdateClientPackage(QString::fromLatin1(name));
        QCOMPARE(FManager->Count(), 3);
        // The help package's record gets a folder-less archive: its removal fails.
        TPackage* help = FManager->FindLatestByName(QStringLiteral("TarvolinHelp"));
        static_cast<TPackageFile*>(help->Find(QStringLiteral("Help.7z")))->SetFolderName(QString());
        QStringList errors;
        FManager->OnResetError = [&](const std::exception& e) { errors << ExceptionMessage(e); };
        FManager->Reset();
        QCOMPARE(errors.size(), 1);
        QCOMPARE(FManager->Count(), 0);
        QVERIFY(!QFile::exists(Downloaded(QStringLiteral("gw/SCHEMA/Tarvolin"))));
        QVERIFY(!QFile::exists(Downloaded(QStringLiteral("Oracle/libpq.so.5"))));
        auto again = NewManager();
        again->Load();
        QCOMPARE(again->Count(), 0);
        QVERIFY(QFile::exists(FData->FilePath(QStringLiteral("Packages.xml"))));
    }

    void updateReplacesTheOldVersion() {
        FServer->Publish(
            QStringLiteral("P"), QStringLiteral("1.0"),
            {{QStringLiteral("old.txt"), TFile{"old", QStringLiteral("P"), "", "auto"}}});
        FServer->Publish(
            QStringLiteral("P"), QStringLiteral("2.0"),
            {{QStringLiteral("new.txt"), TFile{"new", QStringLiteral("P"), "", "auto"}}});
        TPackage* oldPackage = FManager->Add(QStringLiteral("P"), QStringLiteral("1.0"), {},
                                             TDateTime(100), TDateTime(100));
        FManager->LoadRemoteFiles(*oldPackage);
        FManager->Install(QStringLiteral("P"), QStringLiteral("1.0"));
        const TDateTime deployed = oldPackage->DeployDate();
        TPackage* newPackage = FManager->Add(QStringLiteral("P"), QStringLiteral("2.0"), {},
                                             TDateTime(200), TDateTime(200));
        FManager->LoadRemoteFiles(*newPackage);
        FManager->Update(QStringLiteral("P"), QStringLiteral("1.0"), QStringLiteral("2.0"));
        QCOMPARE(FManager->Count(), 1);
        QVERIFY(!QFile::exists(Downloaded(QStringLiteral("P/old.txt"))));
        QCOMPARE(ReadWholeFile(Downloaded(QStringLiteral("P/new.txt"))), QByteArray("new"));
        QCOMPARE(newPackage->DeployDate(), TDateTime(200));
        QVERIFY(newPackage->UpdateDate() >= deployed);
        QVERIFY_THROWS_EXCEPTION(ERepository,
                                 FManager->Remove(QStringLiteral("P"), QStringLiteral("1.0")));
        FManager->Remove(QStringLiteral("P"), QStringLiteral("2.0"));
        QCOMPARE(FManager->Count(), 0);
        QVERIFY(!QFile::exists(Downloaded(QStringLiteral("P/new.txt"))));
    }

    void twoVersionsOfOneNameLoad() {
        FManager->Add(QStringLiteral("X"), QStringLiteral("1.0"), {}, {}, {});
        FManager->Add(QStringLiteral("X"), QStringLiteral("2.0"), {}, {}, {});
        FManager->Save();
        auto again = NewManager();
        again->Load();
        QCOMPARE(again->Count(), 2);
        QVERIFY(again->Find(QStringLiteral("X2.0")) != nullptr);
        QCOMPARE(again->FindLatestByName(QStringLiteral("X"))->Version(), QStringLiteral("2.0"));
    }

    void serverSpecificName_data() {
        QTest::addColumn<QString>("schema");
        QTest::addColumn<QString>("expected");
        QTest::newRow("schema") << "VELMAR_PROD"
                                << "gw1/VELMAR_PROD/Tarvolin";
        QTest::newRow("empty schema") << ""
                                      << "gw1/Tarvolin";
    }
    void serverSpecificName() {
        QFETCH(QString, schema);
        QFETCH(QString, expected);
        auto env = TItem::Create<TEnvironment>();
        env->SetSSHAddress(QStringLiteral("gw1"));
        env->SetDBSchema(schema);
        QCOMPARE(TClientPackageManager::ServerSpecificPkgName(QStringLiteral("Tarvolin"), *env),
                 expected);
    }
};

QTEST_GUILESS_MAIN(TestPackageSync)
#include "tst_PackageSync.moc"
