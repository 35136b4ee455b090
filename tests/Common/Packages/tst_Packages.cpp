// ctest-label: unit
#include "Common/Files/FileUtils.h"
#include "Common/Packages/Packages.h"
#include "Support/TempAppData.h"

#include <QBuffer>
#include <QTest>

class TestPackages : public QObject {
    Q_OBJECT

    std::unique_ptr<TTempAppData> FData;

private slots:
    void init() {
        FData = std::make_unique<TTempAppData>();
        QVERIFY(FData->IsValid());
    }
    void cleanup() { FData.reset(); }

    void newPackageDefaults() {
        auto manager = TItem::Create<TPackageManager>();
        QVERIFY(!manager->AutoSave());
        QCOMPARE(manager->GetFileName(), FData->FilePath(QStringLiteral("Packages.xml")));
        auto* package = TItem::Create<TPackage>(manager.get());
        QCOMPARE(package->PkgName(), QStringLiteral("Új csomag"));
        QCOMPARE(package->Version(), QStringLiteral("1.0"));
        QCOMPARE(package->Id(), QStringLiteral("Új csomag1.0"));
        QVERIFY(package->DeployDate().IsZero());
        auto* file = TItem::Create<TPackageFile>(package);
        QCOMPARE(file->FileName(), QStringLiteral("TPackageFile"));
        QCOMPARE(file->BaseFolder(), TPathHelper::piNone);
        QBuffer buffer;
        QVERIFY_THROWS_EXCEPTION(EAbstractError, file->SaveFileToStream(buffer));
    }

    void identityFollowsNameAndVersion() {
        auto manager = TItem::Create<TPackageManager>();
        TPackage* a = manager->Add(QStringLiteral("Tarvolin"), QStringLiteral("1.2"),
                                   QStringLiteral("d"), TDateTime(1), TDateTime(2));
        QCOMPARE(a->Id(), QStringLiteral("Tarvolin1.2"));
        QCOMPARE(a->Description(), QStringLiteral("d"));
        QCOMPARE(a->UpdateDate(), TDateTime(2));
        a->SetVersion(QStringLiteral("1.3"));
        QCOMPARE(a->Id(), QStringLiteral("Tarvolin1.3"));
        TPackage* b = manager->Add(QStringLiteral("Other"), QStringLiteral("1.3"), {}, {}, {});
        // A rename onto an existing identity leaves everything as it was.
        QVERIFY_THROWS_EXCEPTION(ERepository, b->SetPkgName(QStringLiteral("Tarvolin")));
        QCOMPARE(b->PkgName(), QStringLiteral("Other"));
        QCOMPARE(b->Id(), QStringLiteral("Other1.3"));
        QVERIFY(manager->Find(QStringLiteral("Other1.3")) == b);
        // The missing separator makes these two one identity.
        manager->Add(QStringLiteral("ab"), QStringLiteral("1.0"), {}, {}, {});
        QVERIFY_THROWS_EXCEPTION(
            ERepository, manager->Add(QStringLiteral("a"), QStringLiteral("b1.0"), {}, {}, {}));
        QCOMPARE(manager->Count(), 3);
        // Empty name and version.
        QVERIFY_THROWS_EXCEPTION(ERepository, manager->Add({}, {}, {}, {}, {}));
        QCOMPARE(manager->Count(), 3);
    }

    void duplicateFileLeavesPackageUnchanged() {
        auto manager = TItem::Create<TPackageManager>();
        TPackage* p = manager->Add(QStringLiteral("P"), QStringLiteral("1"), {}, {}, {});
        p->Add(QStringLiteral("x.dll"), QStringLiteral("d"), QStringLiteral("AB"),
               QStringLiteral("F"));
        QVERIFY_THROWS_EXCEPTION(ERepository, p->Add(QStringLiteral("x.dll"), {}, {}, {}));
        QVERIFY_THROWS_EXCEPTION(ERepository, p->Add(QString(), {}, {}, {}));
        QCOMPARE(p->Count(), 1);
        TPackageFile* f = p->Files().first();
        QCOMPARE(f->MD5Hash(), QStringLiteral("AB"));
        QCOMPARE(f->FolderName(), QStringLiteral("F"));
        QVERIFY(f->Package() == p);
    }

    void latestByName_data() {
        QTest::addColumn<QStringList>("versions");
        QTest::addColumn<QString>("latest");
        QTest::newRow("length decides") << QStringList{"1.9", "1.10"} << "1.10";
        QTest::newRow("shorter is smaller") << QStringList{"2.0", "1.0.1"} << "1.0.1";
        QTest::newRow("case tie keeps first") << QStringList{"1.0a", "1.0A"} << "1.0a";
        QTest::newRow("case tie keeps first 2") << QStringList{"1.0A", "1.0a"} << "1.0A";
        QTest::newRow("empty never latest") << QStringList{"", "0"} << "0";
        QTest::newRow("only empty") << QStringList{""} << QString();
    }
    void latestByName() {
        QFETCH(QStringList, versions);
        QFETCH(QString, latest);
        auto manager = TItem::Create<TPackageManager>();
        manager->Add(QStringLiteral("Other"), QStringLiteral("9.9"), {}, {}, {});
        for (const QString& v : versions)
            manager->Add(QStringLiteral("Tarvolin"), v, {}, {}, {});
        QCOMPARE(manager->FindByName(QStringLiteral("Tarvolin")).size(), versions.size());
        QVERIFY(manager->FindByName(QStringLiteral("tarvolin")).isEmpty());
        if (latest.isNull()) {
            try {
                manager->FindLatestByName(QStringLiteral("Tarvolin"));
                QFAIL("no error");
            } catch (const ERepository& e) {
                QCOMPARE(e.Message(), QStringLiteral("A TPackageManager nem található, nincsen "
                                                     "\"Tarvolin\" nevű elem a listában."));
                QCOMPARE(e.Title(), QStringLiteral("A TPackageManager nem található."));
            }
        } else {
            QCOMPARE(manager->FindLatestByName(QStringLiteral("Tarvolin"))->Version(), latest);
        }
    }

    void path_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected"); // relative to Downloaded Files, or absolute
        QTest::newRow("nested") << "A/B"
                                << "A/B/x.dll";
        QTest::newRow("empty folder") << ""
                                      << "x.dll";
        QTest::newRow("trailing slash") << "A/"
                                        << "A/x.dll";
        QTest::newRow("rooted") << "/opt/lib"
                                << "/opt/lib/x.dll";
    }
    void path() {
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        auto manager = TItem::Create<TPackageManager>();
        TPackage* p = manager->Add(QStringLiteral("P"), QStringLiteral("1"), {}, {}, {});
        TPackageFile* f = p->Add(QStringLiteral("x.dll"), {}, {}, folder);
        QCOMPARE(f->Path(), expected);
        f->SetBaseFolder(TPathHelper::piDownloadedFiles);
        const QString base = PathHelper().GetPath(TPathHelper::piDownloadedFiles);
        QCOMPARE(f->Path(), expected.startsWith(u'/') ? expected : base + expected);
        f->SetFolderName(QStringLiteral("bad") + QChar(u'\0'));
        QVERIFY_THROWS_EXCEPTION(EArgumentException, f->Path());
    }
};

QTEST_GUILESS_MAIN(TestPackages)
#include "tst_Packages.moc"
