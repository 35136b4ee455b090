// ctest-label: unit
#include "Common/Config/Config.h"
#include "Common/Error/CustomException.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestConfig : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;

    QString Write(const QByteArray& content) {
        const QString name = FDir.filePath("Tarvolin.xml");
        QFile f(name);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(content);
        return name;
    }

private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", FDir.filePath("xdg").toUtf8()); }

    void noFile() {
        TConfig config;
        config.LoadFromFile(FDir.filePath("missing.xml"));
        for (int i = 0; i < TConfig::TypeCount; ++i)
            QVERIFY(!config.IsSet(TConfig::TConfigType(i)));
        TPathHelper paths(config);
        QCOMPARE(paths.GetPath(TPathHelper::piLocalAppData), FDir.filePath("xdg") + "/Tarvolin/");
        QCOMPARE(paths.GetPath(TPathHelper::piDownloadedFiles),
                 FDir.filePath("xdg") + "/Tarvolin/Downloaded Files/");
        QCOMPARE(paths.GetPath(TPathHelper::piAppData), QString("/var/lib/Tarvolin/"));
        QCOMPARE(paths.GetPath(TPathHelper::piTarvolinStarter), QString("/opt/Tarvolin/"));
        QCOMPARE(paths.GetPath(TPathHelper::piNone), QString("/"));
        QVERIFY(paths.GetPath(TPathHelper::piTempData).endsWith("/Tarvolin/"));
    }

    void overrides() {
        const QString file = Write(R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- machine settings -->
<Tarvolin>
  <Path>
    <AppData></AppData>
    <LocalAppData>/srv/tarvolin/user</LocalAppData>
    <Oracle>/opt/oracle/client</Oracle>
    <Other>ignored</Other>
  </Path>
  <Log4D><a>1</a><b>2</b></Log4D>
  <Debug><IgnoreServerVersions>igen</IgnoreServerVersions></Debug>
</Tarvolin>)");
        TConfig config;
        config.LoadFromFile(file);
        QVERIFY(!config.IsSet(TConfig::ctAppDataPath)); // empty text stays unset
        QCOMPARE(config.GetValue(TConfig::ctOraclePath), QString("/opt/oracle/client"));
        QCOMPARE(config.GetValue(TConfig::ctLog4D), QString("a=1\r\nb=2\r\n"));
        QCOMPARE(config.GetValue(TConfig::ctIgnoreServerVersions), QString("igen"));
        QString untouched = "keep";
        config.GetValue(TConfig::ctTempPath, untouched);
        QCOMPARE(untouched, QString("keep"));

        TPathHelper paths(config);
        QCOMPARE(paths.GetPath(TPathHelper::piLocalAppData), QString("/srv/tarvolin/user/"));
        QCOMPARE(paths.GetPath(TPathHelper::piDownloadedFiles),
                 QString("/srv/tarvolin/user/Downloaded Files/"));
        QCOMPARE(paths.GetPath(TPathHelper::piClientErrorRiports),
                 QString("/srv/tarvolin/user/Errors/"));
        QCOMPARE(paths.GetPath(TPathHelper::piServerErrorRiports),
                 QString("/var/lib/Tarvolin/Errors/"));
    }

    void foreignRoot() {
        TConfig config;
        config.LoadFromFile(Write("<Other><Path><Temp>/x</Temp></Path></Other>"));
        QVERIFY(!config.IsSet(TConfig::ctTempPath));
    }

    void damagedFile_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not well-formed") << QByteArray("<Tarvolin><Path></Tarvolin>");
        QTest::newRow("element instead of text")
            << QByteArray("<Tarvolin><Path><Temp><x/></Temp></Path></Tarvolin>");
    }
    void damagedFile() {
        QFETCH(QByteArray, content);
        const QString file = Write(content);
        TConfig config;
        try {
            config.LoadFromFile(file);
            QFAIL("no error");
        } catch (const ECustom& e) {
            QVERIFY2(e.Message().contains(file), qPrintable(e.Message()));
        }
    }

    void currentFolderAndNames() {
        TConfig config;
        TPathHelper paths(config);
        const QString before = QDir::currentPath();
        QDir::setCurrent(FDir.path());
        QCOMPARE(paths.GetPath(TPathHelper::piCurrent), QDir::currentPath() + "/");
        QDir::setCurrent(before);
        QCOMPARE(paths.GetPathDisplayName(TPathHelper::piTarvolinStarter),
                 QString("Tarvolin indítópult"));
        QCOMPARE(paths.GetPathDisplayName(TPathHelper::piLocalStartMenu),
                 QString("Helyi Start menü"));
        QCOMPARE(paths.GetPathDisplayName(TPathHelper::piNone), QString());
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_Config.moc"
