// ctest-label: unit
#include "Platform/Debug/MapFile.h"
#include "Support/TestSupport.h"

#include <QTest>

class TestMapFile : public QObject {
    Q_OBJECT
private slots:
    void lookup_data() {
        QTest::addColumn<qulonglong>("address");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("procedure");
        QTest::addColumn<int>("offset");
        QTest::newRow("start symbol") << 0x2004ULL << "Scrt1"
                                      << "_start" << 4;
        QTest::newRow("static function from its section name")
            << 0x2110ULL << "DemoScenarios"
            << "(anonymous namespace)::RaiseFromStatic(char const*)" << 0x10;
        QTest::newRow("demangled symbol with spaces") << 0x2130ULL << "DemoScenarios"
                                                      << "ThrowDemoError(char const*)" << 0x16;
        QTest::newRow("constructor listed twice") << 0x2171ULL << "TarvolinClient"
                                                  << "Demo::Widget::Widget()" << 1;
        QTest::newRow("plain .text, second symbol") << 0x2250ULL << "Plain"
                                                    << "second(int)" << 0x10;
        QTest::newRow("plain .text, first symbol") << 0x2210ULL << "Plain"
                                                   << "first(int)" << 0x10;
        QTest::newRow("C function section") << 0x2301ULL << "TarvolinClient"
                                            << "main" << 1;
    }
    void lookup() {
        QFETCH(qulonglong, address);
        QFETCH(QString, unit);
        QFETCH(QString, procedure);
        QFETCH(int, offset);
        TMapFile map(TestDataPath(QStringLiteral("Debug/Demo.map")));
        QVERIFY(map.IsLoaded());
        TMapLocation location;
        QVERIFY(map.Lookup(address, location));
        QCOMPARE(location.UnitName, unit);
        QCOMPARE(location.ProcedureName, procedure);
        QCOMPARE(location.OffsetFromProcName, offset);
    }

    void addressesOutsideCodeAreNotFound_data() {
        QTest::addColumn<qulonglong>("address");
        QTest::newRow("below the code") << 0x100ULL;
        QTest::newRow("in the fill") << 0x2335ULL;
        QTest::newRow("data") << 0x4000ULL;
        QTest::newRow("discarded section address") << 0x10ULL;
    }
    void addressesOutsideCodeAreNotFound() {
        QFETCH(qulonglong, address);
        TMapFile map(TestDataPath(QStringLiteral("Debug/Demo.map")));
        TMapLocation location;
        QVERIFY(!map.Lookup(address, location));
        QVERIFY(location.UnitName.isEmpty());
    }

    void missingFileFindsNothing() {
        TMapFile map(QStringLiteral("/nonexistent/Tarvolin.map"));
        QVERIFY(!map.IsLoaded());
        TMapLocation location;
        QVERIFY(!map.Lookup(0x2004, location));
    }

    // The demo client's real map and line table.
    void demoClientResolvesLines() {
        const QString exe = QStringLiteral(TV_BINARY_DIR "/client/Tarvolin");
        TMapFile map(exe + QStringLiteral(".map"), exe);
        QVERIFY(map.IsLoaded());
        // Find ThrowDemoError through the lookup of its own start.
        QFile file(exe + QStringLiteral(".map"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        const int at = text.indexOf(QStringLiteral("ThrowDemoError(char const*)"));
        QVERIFY(at > 0);
        const int lineStart = text.lastIndexOf(QLatin1Char('\n'), at);
        const qulonglong address =
            text.mid(lineStart, at - lineStart).trimmed().toULongLong(nullptr, 16);
        TMapLocation location;
        QVERIFY(map.Lookup(address + 4, location));
        QCOMPARE(location.ProcedureName, QStringLiteral("ThrowDemoError(char const*)"));
        QCOMPARE(location.SourceName, QStringLiteral("DemoScenarios.cpp"));
        QVERIFY(location.LineNumber > 0);
    }
};

QTEST_GUILESS_MAIN(TestMapFile)
#include "tst_MapFile.moc"
