// ctest-label: unit
// ctest-timeout: 120
// ctest-sources: ArchiveMaker.cpp
#include "ArchiveMaker.h"
#include "Common/Error/CustomException.h"
#include "Common/Installer/Installer.h"
#include "Common/Util/SysUtilsEx.h"
#include "Platform/Archive/SevenZip.h"
#include "Support/TempAppData.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTest>

#include <cerrno>

namespace {

// A source that fails on its first read.
class TFailingStream : public QIODevice {
public:
    TFailingStream() { open(QIODevice::ReadOnly); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64) override { return -1; }
};

std::unique_ptr<QIODevice> Buffer(const QByteArray& data) {
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(data);
    buffer->open(QIODevice::ReadOnly);
    return buffer;
}

// Relative path -> content of every file below the folder (links as "->target").
QMap<QString, QByteArray> Tree(const QString& folder) {
    QMap<QString, QByteArray> result;
    QDirIterator it(folder, QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(folder).relativeFilePath(path);
        if (it.fileInfo().isSymLink())
            result.insert(rel, "->" + it.fileInfo().symLinkTarget().toUtf8());
        else
            result.insert(rel, ReadWholeFile(path));
    }
    return result;
}

QStringList FolderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

class TestInstaller : public QObject {
    Q_OBJECT

    std::unique_ptr<TTempAppData> FData;
    QString FRoot;

    QString Target(const QString& rel) const { return FRoot + rel; }

    std::unique_ptr<TFileDeployer> Deployer(const QString& path, const QByteArray& content) {
        auto item = std::make_unique<TFileDeployer>(path);
        item->OnGetSourceStream = [content](TFileInstaller&, std::unique_ptr<QIODevice>& s) {
            s = Buffer(content);
        };
        return item;
    }
    std::unique_ptr<TCompressedFileDeployer> ArchiveDeployer(const QString& path,
                                                             const QString& archiveFile) {
        auto item = std::make_unique<TCompressedFileDeployer>(path);
        const QByteArray content = ReadWholeFile(archiveFile);
        item->OnGetSourceStream = [content](TFileInstaller&, std::unique_ptr<QIODevice>& s) {
            s = Buffer(content);
        };
        return item;
    }

private slots:
    void init() {
        FData = std::make_unique<TTempAppData>();
        QVERIFY(FData->IsValid());
        FRoot = FData->Path() + QStringLiteral("Downloaded Files/");
        QDir().mkpath(FRoot);
    }
    void cleanup() {
        TFileInstaller::SetSystemMove({});
        InstallerJournal::SetStepHook({});
        FData.reset();
    }

    void compressedNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("compressed");
        QTest::newRow("exe") << "setup.exe" << false;
        QTest::newRow("dll") << "7z.dll" << false;
        QTest::newRow("DLL upper") << "X.DLL" << false;
        QTest::newRow("chm") << "help.chm" << true;
        QTest::newRow("zip") << "data.zip" << true;
        QTest::newRow("7z upper") << "Oracle.7Z" << true;
        QTest::newRow("tgz") << "a.tgz" << true;
        QTest::newRow("plain") << "libpq.so.5" << false;
        QTest::newRow("none") << "7zz" << false;
    }
    void compressedNames() {
        QFETCH(QString, name);
        QFETCH(bool, compressed);
        QCOMPARE(TSevenZipArchive::IsCompressedFileName(name), compressed);
    }

    // Three plain files; the second fails while staging.
    void failingItemRollsBack() {
        WriteWholeFile(Target(QStringLiteral("a.txt")), "old a");
        TInstaller installer;
        installer.AddItem(Deployer(Target(QStringLiteral("a.txt")), "new a"));
        auto failing = std::make_unique<TFileDeployer>(Target(QStringLiteral("sub/b.txt")));
        failing->OnGetSourceStream = [](TFileInstaller&, std::unique_ptr<QIODevice>& s) {
            s = std::make_unique<TFailingStream>();
        };
        installer.AddItem(std::move(failing));
        installer.AddItem(Deployer(Target(QStringLiteral("c.txt")), "new c"));
        QStringList events;
        installer.OnUpdateStart = [&](TInstaller& i) {
            events << QStringLiteral("start %1").arg(int(i.Mode()));
        };
        installer.OnBeforeItemStart = [&](TInstaller&, TInstallItem& item) {
            events << QStringLiteral("before ") + static_cast<TFileInstaller&>(item).FileName();
        };
        installer.OnAfterItemFinish = [&](TInstaller&, TInstallItem& item) {
            events << QStringLiteral("after ") + static_cast<TFileInstaller&>(item).FileName();
        };
        installer.OnCommit = [&](TInstaller&) { events << QStringLiteral("commit"); };
        installer.OnRollback = [&](TInstaller&) { events << QStringLiteral("rollback"); };
        installer.OnUpdateFinish = [&](TInstaller& i) {
            events << QStringLiteral("finish %1").arg(int(i.Mode()));
        };
        QVERIFY_THROWS_EXCEPTION(Exception, installer.InstallItems());
        QCOMPARE(events, (QStringList{"start 1", "before a.txt", "after a.txt", "before b.txt",
                                      "after b.txt", "rollback", "finish 1"}));
        QCOMPARE(installer.Mode(), TInstaller::dmNone);
        QVERIFY(!installer.Active());
        QCOMPARE(ReadWholeFile(Target(QStringLiteral("a.txt"))), QByteArray("old a"));
        QVERIFY(!QFile::exists(Target(QStringLiteral("sub/b.txt"))));
        QVERIFY(!QFile::exists(Target(QStringLiteral("c.txt"))));
        QVERIFY(QDir(Target(QStringLiteral("sub"))).exists()); // created while staging
        QCOMPARE(FolderEntries(FData->TempPath()), QStringList());
    }

    void installAndRemovePlainFiles() {
        WriteWholeFile(Target(QStringLiteral("a.txt")), "old a");
        {
            TInstaller installer;
            installer.AddItem(Deployer(Target(QStringLiteral("a.txt")), "new a"));
            // Two items with one file name have their own staging files.
            installer.AddItem(Deployer(Target(QStringLiteral("x/a.txt")), "#!/bin/sh\nexit 0\n"));
            installer.InstallItems();
        }
        QCOMPARE(ReadWholeFile(Target(QStringLiteral("a.txt"))), QByteArray("new a"));
        QCOMPARE(ReadWholeFile(Target(QStringLiteral("x/a.txt"))),
                 QByteArray("#!/bin/sh\nexit 0\n"));
        QVERIFY(QFileInfo(Target(QStringLiteral("x/a.txt"))).isExecutable());
        QVERIFY(!QFileInfo(Target(QStringLiteral("a.txt"))).isExecutable());
        QCOMPARE(FolderEntries(FData->TempPath()), QStringList());

        // Removal that is rolled back puts the files back.
        {
            TInstaller installer;
            installer.AddItem(std::make_unique<TFileRemover>(Target(QStringLiteral("a.txt"))));
            installer.AddItem(std::make_unique<TFileRemover>(Target(QStringLiteral("x/a.txt"))));
            installer.OnCommit = [](TInstaller&) {
                throw ECustom(QStringLiteral("t"), QStringLiteral("m"));
            };
            QVERIFY_THROWS_EXCEPTION(ECustom, installer.RemoveItems());
        }
        QCOMPARE(ReadWholeFile(Target(QStringLiteral("a.txt"))), QByteArray("new a"));
        QVERIFY(QFile::exists(Target(QStringLiteral("x/a.txt"))));
        // Removal that commits; a missing file is no error.
        {
            TInstaller installer;
            installer.AddItem(std::make_unique<TFileRemover>(Target(QStringLiteral("a.txt"))));
            installer.AddItem(std::make_unique<TFileRemover>(Target(QStringLiteral("x/a.txt"))));
            installer.AddItem(std::make_unique<TFileRemover>(Target(QStringLiteral("none.txt"))));
            installer.RemoveItems();
        }
        QVERIFY(!QFile::exists(Target(QStringLiteral("a.txt"))));
        QVERIFY(!QFile::exists(Target(QStringLiteral("x/a.txt"))));
        QCOMPARE(FolderEntries(FData->TempPath()), QStringList());
    }

    void missingSourceFailsAtCommit() {
        TInstaller installer;
        installer.AddItem(std::make_unique<TFileDeployer>(Target(QStringLiteral("a.txt"))));
        QVERIFY_THROWS_EXCEPTION(EOSError, installer.InstallItems());
        QVERIFY(!QFile::exists(Target(QStringLiteral("a.txt"))));
    }

    void nestedCallIsIgnored() {
        TInstaller installer;
        installer.AddItem(Deployer(Target(QStringLiteral("a.txt")), "a"));
        int starts = 0;
        installer.OnUpdateStart = [&](TInstaller& i) {
            ++starts;
            QVERIFY(i.Active());
            i.InstallItems();
            i.RemoveItems();
        };
        installer.InstallItems();
        QCOMPARE(starts, 1);
        QCOMPARE(ReadWholeFile(Target(QStringLiteral("a.txt"))), QByteArray("a"));
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, installer.AddItem(nullptr));
    }

    void busyMoveIsRetried_data() {
        QTest::addColumn<int>("failures");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("twice") << 2 << true;
        QTest::newRow("three times") << 3 << false;
    }
    void busyMoveIsRetried() {
        QFETCH(int, failures);
        QFETCH(bool, succeeds);
        int calls = 0;
        auto original = TFileInstaller::SetSystemMove({});
        TFileInstaller::SetSystemMove([&](const QString& s, const QString& d) {
            if (++calls <= failures)
                return EACCES;
            return original(s, d);
        });
        TInstaller installer;
        installer.AddItem(Deployer(Target(QStringLiteral("a.txt")), "a"));
        QElapsedTimer timer;
        timer.start();
        if (succeeds) {
            installer.InstallItems();
            QCOMPARE(ReadWholeFile(Target(QStringLiteral("a.txt"))), QByteArray("a"));
            QVERIFY(timer.elapsed() >= 1900);
        } else {
            try {
                installer.InstallItems();
                QFAIL("no error");
            } catch (const EOSError& e) {
                QCOMPARE(e.ErrorCode(), EACCES);
            }
            QCOMPARE(calls, 3);
            QVERIFY(!QFile::exists(Target(QStringLiteral("a.txt"))));
        }
    }

    void crossFileSystemMoveCopies() {
        TFileInstaller::SetSystemMove([](const QString&, const QString&) { return EXDEV; });
        TInstaller installer;
        auto item = Deployer(Target(QStringLiteral("a.bin")), QByteArray(200000, 'x'));
        QStringList messages;
        int lastPosition = 0;
        item->OnProgress = [&](TFileInstaller&, const QString& m, int, int, int position) {
            messages << m;
            lastPosition = position;
        };
        installer.AddItem(std::move(item));
        installer.InstallItems();
        QCOMPARE(ReadWholeFile(Target(QStringLiteral("a.bin"))), QByteArray(200000, 'x'));
        QVERIFY(messages.contains(QStringLiteral("Az a.bin mozgatása folyamatban.")));
        QCOMPARE(lastPosition, 200000);
        QCOMPARE(FolderEntries(FRoot), QStringList{QStringLiteral("a.bin")});
    }

    void archiveReplacesFolder() {
        const QString src = FData->Path() + QStringLiteral("src/");
        QDir().mkpath(src + QStringLiteral("sub"));
        WriteWholeFile(src + QStringLiteral("one.txt"), "one");
        WriteWholeFile(src + QStringLiteral("sub/two.txt"), "two");
        QFile::link(QStringLiteral("one.txt"), src + QStringLiteral("link"));
        const QString archive = FData->Path() + QStringLiteral("Help.7z");
        Make7z(archive, src,
               {QStringLiteral("one.txt"), QStringLiteral("sub"), QStringLiteral("link")});
        QDir().mkpath(Target(QStringLiteral("Help/old")));
        WriteWholeFile(Target(QStringLiteral("Help/old/stale.txt")), "stale");
        WriteWholeFile(Target(QStringLiteral("Help/one.txt")), "older one");

        TInstaller installer;
        auto item = ArchiveDeployer(Target(QStringLiteral("Help/Help.7z")), archive);
        QVERIFY(item->IsCompressed());
        QList<int> positions;
        item->OnProgress = [&](TFileInstaller&, const QString& m, int, int max, int position) {
            if (m == QStringLiteral("A Help.7z kitömörítése folyamatban.")) {
                QCOMPARE(max, 100);
                positions << position;
            }
        };
        installer.AddItem(std::move(item));
        installer.InstallItems();
        QVERIFY(!positions.isEmpty());
        QCOMPARE(positions.last(), 100);
        const QMap<QString, QByteArray> expected{
            {"one.txt", "one"},
            {"sub/two.txt", "two"},
            {"link", "->" + Target(QStringLiteral("Help/one.txt")).toUtf8()}};
        QCOMPARE(Tree(Target(QStringLiteral("Help"))), expected);
        QCOMPARE(FolderEntries(FRoot), QStringList{QStringLiteral("Help")});
        QCOMPARE(FolderEntries(FData->TempPath()), QStringList());
        QCOMPARE(FolderEntries(InstallerJournal::JournalFolder()), QStringList());

        // Removal set aside and rolled back, then committed.
        {
            TInstaller remover;
            remover.AddItem(
                std::make_unique<TCompressedFileRemover>(Target(QStringLiteral("Help/Help.7z"))));
            remover.OnCommit = [&](TInstaller&) {
                QVERIFY(!QFileInfo::exists(Target(QStringLiteral("Help"))));
                throw ECustom(QStringLiteral("t"), QStringLiteral("m"));
            };
            QVERIFY_THROWS_EXCEPTION(ECustom, remover.RemoveItems());
        }
        QCOMPARE(Tree(Target(QStringLiteral("Help"))), expected);
        {
            TInstaller remover;
            remover.AddItem(
                std::make_unique<TCompressedFileRemover>(Target(QStringLiteral("Help/Help.7z"))));
            remover.RemoveItems();
        }
        QCOMPARE(FolderEntries(FRoot), QStringList());
        QCOMPARE(FolderEntries(InstallerJournal::JournalFolder()), QStringList());
    }

    void badArchiveRollsBack_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected"); // part of the message
        QTest::newRow("absolute path")
            << MakeTar({{"/tmp/evil.txt", '0', "x", {}}}) << "abszolút útvonal";
        QTest::newRow("parent part")
            << MakeTar({{"ok.txt", '0', "x", {}}, {"a/../../evil.txt", '0', "x", {}}}) << "\"..\"";
        QTest::newRow("absolute link")
            << MakeTar({{"etc", '2', {}, "/etc"}, {"etc/evil", '0', "x", {}}}) << "hivatkozás";
        QTest::newRow("link out") << MakeTar({{"a/up", '2', {}, "../../x"}}) << "kívülre";
        QTest::newRow("hard link out") << MakeTar({{"h", '1', {}, "../outside"}}) << "kívülre";
        QTest::newRow("damaged") << QByteArray("7z\xBC\xAF\x27\x1C garbage garbage") << "nem";
    }
    void badArchiveRollsBack() {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        QDir().mkpath(Target(QStringLiteral("Pkg")));
        WriteWholeFile(Target(QStringLiteral("Pkg/keep.txt")), "keep");
        WriteWholeFile(Target(QStringLiteral("plain.txt")), "old");
        const QString archive = FData->Path() + QStringLiteral("bad.tar");
        WriteWholeFile(archive, content);
        TInstaller installer;
        installer.AddItem(Deployer(Target(QStringLiteral("plain.txt")), "new"));
        installer.AddItem(ArchiveDeployer(Target(QStringLiteral("Pkg/bad.tar")), archive));
        try {
            installer.InstallItems();
            QFAIL("no error");
        } catch (const ECustom& e) {
            QVERIFY2(e.Message().contains(expected), qPrintable(e.Message()));
            QCOMPARE(e.Title(), QStringLiteral("A bad.tar kitömörítése nem sikerült."));
        }
        QCOMPARE(ReadWholeFile(Target(QStringLiteral("plain.txt"))), QByteArray("old"));
        QCOMPARE(FolderEntries(Target(QStringLiteral("Pkg"))),
                 QStringList{QStringLiteral("keep.txt")});
        QCOMPARE(FolderEntries(FRoot),
                 (QStringList{QStringLiteral("Pkg"), QStringLiteral("plain.txt")}));
        QVERIFY(!QFile::exists(QStringLiteral("/tmp/evil.txt")));
        QCOMPARE(FolderEntries(FData->TempPath()), QStringList());
    }

    void missingEngineRollsBack() {
        const QString path = GetEnvironmentVariable(QStringLiteral("PATH"));
        SetEnvironmentVariable(QStringLiteral("PATH"), FData->TempPath());
        const QString archive = FData->Path() + QStringLiteral("a.tar");
        WriteWholeFile(archive, MakeTar({{"a.txt", '0', "a", {}}}));
        TInstaller installer;
        installer.AddItem(ArchiveDeployer(Target(QStringLiteral("Pkg/a.tar")), archive));
        try {
            installer.InstallItems();
            SetEnvironmentVariable(QStringLiteral("PATH"), path);
            QFAIL("no error");
        } catch (const ECustom& e) {
            SetEnvironmentVariable(QStringLiteral("PATH"), path);
            QVERIFY2(e.Message().contains(QStringLiteral("7zz")), qPrintable(e.Message()));
        }
        QVERIFY(!QFileInfo::exists(Target(QStringLiteral("Pkg/a.txt"))));
    }

    void engineFoundFirstInPrependedFolder() {
        // A "7zz" first on PATH is the one that runs.
        const QString path = GetEnvironmentVariable(QStringLiteral("PATH"));
        const QString folder = FData->Path() + QStringLiteral("Downloaded Files/7Zip");
        QDir().mkpath(folder);
        QVERIFY(QFile::copy(QStringLiteral("/usr/bin/7zz"), folder + QStringLiteral("/7zz")));
        PrependToPath(folder);
        const QString found = TSevenZipArchive::FindEngine();
        SetEnvironmentVariable(QStringLiteral("PATH"), path);
        QCOMPARE(found, folder + QStringLiteral("/7zz"));
    }

    void interruptedSwapIsRecovered_data() {
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("expectNew");
        QTest::newRow("journal written") << "journal" << false;
        QTest::newRow("old set aside") << "aside" << false;
        QTest::newRow("new moved in") << "swapped" << true;
        QTest::newRow("old deleted") << "deleted" << true;
    }
    void interruptedSwapIsRecovered() {
        QFETCH(QString, step);
        QFETCH(bool, expectNew);
        const QString archive = FData->Path() + QStringLiteral("a.tar");
        WriteWholeFile(archive, MakeTar({{"new.txt", '0', "new", {}}}));
        QDir().mkpath(Target(QStringLiteral("Pkg")));
        WriteWholeFile(Target(QStringLiteral("Pkg/old.txt")), "old");
        struct TCrash {};
        InstallerJournal::SetStepHook([&](const char* s) {
            if (step == QLatin1String(s))
                throw TCrash();
        });
        {
            // The crash is simulated by leaving the commit at the step
            // without any rollback.
            TCompressedFileDeployer item(Target(QStringLiteral("Pkg/a.tar")));
            const QByteArray content = ReadWholeFile(archive);
            item.OnGetSourceStream = [content](TFileInstaller&, std::unique_ptr<QIODevice>& s) {
                s = Buffer(content);
            };
            item.Install();
            bool crashed = false;
            try {
                item.Commit();
            } catch (const TCrash&) {
                crashed = true;
            }
            QVERIFY(crashed);
        }
        InstallerJournal::SetStepHook({});
        QCOMPARE(InstallerJournal::RecoverInterruptedCommits(), 1);
        const QMap<QString, QByteArray> expected =
            expectNew ? QMap<QString, QByteArray>{{"new.txt", "new"}}
                      : QMap<QString, QByteArray>{{"old.txt", "old"}};
        QCOMPARE(Tree(Target(QStringLiteral("Pkg"))), expected);
        QCOMPARE(FolderEntries(FRoot), QStringList{QStringLiteral("Pkg")});
        QCOMPARE(InstallerJournal::RecoverInterruptedCommits(), 0);
    }
};

QTEST_GUILESS_MAIN(TestInstaller)
#include "tst_Installer.moc"
