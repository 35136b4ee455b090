// ctest-label: unit
#include "Common/Util/BooleanLock.h"
#include "Common/Util/SysUtilsEx.h"
#include "Platform/Runtime/VersionNote.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <unistd.h>

class TestSysUtilsEx : public QObject {
    Q_OBJECT
private slots:
    void prependToPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("inserted first") << "/usr/bin:/bin"
                                        << "/opt/7Zip"
                                        << "/opt/7Zip:/usr/bin:/bin";
        QTest::newRow("already there") << "/usr/bin:/opt/7Zip"
                                       << "/opt/7Zip"
                                       << "/usr/bin:/opt/7Zip";
        QTest::newRow("case matters, case kept") << "/Opt/Bin:/usr/bin"
                                                 << "/opt/bin"
                                                 << "/opt/bin:/Opt/Bin:/usr/bin";
        QTest::newRow("empty entries dropped") << "::/usr/bin::"
                                               << "/x"
                                               << "/x:/usr/bin";
        QTest::newRow("empty path") << ""
                                    << "/x"
                                    << "/x";
    }
    void prependToPath() {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        const QByteArray saved = qgetenv("PATH");
        SetEnvironmentVariable("PATH", path);
        PrependToPath(folder);
        const QString result = GetEnvironmentVariable("PATH");
        qputenv("PATH", saved);
        QCOMPARE(result, expected);
    }

    void environment() {
        SetEnvironmentVariable("TV_TEST_VAR", "érték");
        QVERIFY(EnvironmentVariableExists("TV_TEST_VAR"));
        QCOMPARE(GetEnvironmentVariable("TV_TEST_VAR"), QString("érték"));
        SetEnvironmentVariable("TV_TEST_VAR", ""); // empty clears
        QVERIFY(!EnvironmentVariableExists("TV_TEST_VAR"));
        QCOMPARE(GetEnvironmentVariable("TV_TEST_VAR"), QString());
    }

    void versionNote() {
        // Our executables carry their version; other files have none.
        const QString starter = QStringLiteral(TV_BINARY_DIR "/bin/TarvolinStarter");
        QVERIFY(QFile::exists(starter));
        QVERIFY(QRegularExpression("^\\d+\\.\\d+\\.\\d+\\.\\d+$")
                    .match(ReadFileVersionNote(starter))
                    .hasMatch());
        QCOMPARE(ReadFileVersionNote("/bin/sh"), QString());
        QCOMPARE(ReadFileVersionNote("/nonexistent"), QString());
        QTemporaryDir dir;
        QFile junk(dir.filePath("junk"));
        junk.open(QIODevice::WriteOnly);
        junk.write("\x7f"
                   "ELF garbage that is far too short");
        junk.close();
        QCOMPARE(ReadFileVersionNote(junk.fileName()), QString());
    }

    void mailUrl() {
        const QString url =
            BuildMailToUrl("support@tarvolin.invalid", "Hiba & kérdés", "1. sor\r\n2=3");
        QVERIFY(url.startsWith("mailto:support@tarvolin.invalid?subject="));
        const QUrl parsed(url);
        QCOMPARE(parsed.scheme(), QString("mailto"));
        QVERIFY(url.contains("Hiba%20%26%20k%C3%A9rd%C3%A9s"));
        QVERIFY(url.contains("&body=1.%20sor%0D%0A2%3D3"));
    }

    void booleanLock() {
        TBooleanLock lock;
        {
            TBooleanLockGuard outer(lock);
            QVERIFY(outer.Acquired());
            TBooleanLockGuard inner(lock);
            QVERIFY(!inner.Acquired()); // the re-entrant taker skips
        }
        QVERIFY(!lock.Locked());
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, lock.Unlock());
    }

    void admin() {
        // root is always an administrator; others depend on their groups.
        if (geteuid() == 0)
            QVERIFY(IsUserAdmin());
    }
};

QTEST_GUILESS_MAIN(TestSysUtilsEx)
#include "tst_SysUtilsEx.moc"
