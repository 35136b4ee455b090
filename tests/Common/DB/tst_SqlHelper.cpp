// ctest-label: unit
// ctest-sources: TestSql.qrc
#include "Common/DB/SqlHelper.h"

#include <QDir>
#include <QTest>

class TestSqlHelper : public QObject {
    Q_OBJECT

private slots:
    void init() {
        TSqlHelper::CurrentSchema() = QStringLiteral("VELMAR_PROD");
        TSqlHelper::ViewBaseNames() = QStringList{QStringLiteral("USER_DETAILS_S")};
        TSqlHelper::ViewFullNames() = QStringList{QStringLiteral("USER_DETAILS_S_1")};
    }

    void PrepareSQL_data() {
        QTest::addColumn<QString>("schema");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        const QString s = QStringLiteral("VELMAR_PROD");
        QTest::newRow("rights query with map")
            << s << QStringLiteral("select rights from ßXX.user_details_s# where username = user")
            << QStringLiteral(
                   "SELECT RIGHTS FROM VELMAR_PROD.USER_DETAILS_S_1 WHERE USERNAME = USER");
        QTest::newRow("no map entry keeps the logical name")
            << s << QStringLiteral("select * from ßXX.partner_s#")
            << QStringLiteral("SELECT * FROM VELMAR_PROD.PARTNER_S");
        QTest::newRow("literal keeps its case") << s << QStringLiteral("select 'abc' from dual")
                                                << QStringLiteral("SELECT 'abc' FROM DUAL");
        QTest::newRow("two placeholders")
            << s << QStringLiteral("select a from ßXX.a_s# join ßxx.b_s# using (id)")
            << QStringLiteral("SELECT A FROM VELMAR_PROD.A_S JOIN VELMAR_PROD.B_S USING (ID)");
        QTest::newRow("no hash keeps the sharp s") << s << QStringLiteral("select 'x' from ßXX.t")
                                                   << QStringLiteral("SELECT 'x' FROM ßXX.T");
        QTest::newRow("hash only before the sharp s")
            << s << QStringLiteral("select '#' from ßXX.t")
            << QStringLiteral("SELECT '#' FROM ßXX.T");
        QTest::newRow("empty schema")
            << QString() << QStringLiteral("select rights from ßXX.user_details_s#")
            << QStringLiteral("SELECT RIGHTS FROM .USER_DETAILS_S_1");
        QTest::newRow("placeholder without a dot")
            << s << QStringLiteral("select * from ß user_details_s #")
            << QStringLiteral("SELECT * FROM VELMAR_PROD.USER_DETAILS_S_1");
        QTest::newRow("blanks collapse, in literals too")
            << s << QStringLiteral("  select\t'a  b'\r\n  from\n\n dual  ")
            << QStringLiteral("SELECT 'a b' FROM DUAL");
        QTest::newRow("accented letters")
            << s << QStringLiteral("select árvíztűrő from t where x = 'árvíz'")
            << QStringLiteral("SELECT ÁRVÍZTŰRŐ FROM T WHERE X = 'árvíz'");
        QTest::newRow("escape hash in a literal, no placeholder")
            << s << QStringLiteral("select v from t where v like '%#_S#__' escape '#'")
            << QStringLiteral("SELECT V FROM T WHERE V LIKE '%#_S#__' ESCAPE '#'");
        QTest::newRow("SQL resource")
            << s << QStringLiteral("TESTRIGHTS")
            << QStringLiteral(
                   "SELECT RIGHTS FROM VELMAR_PROD.USER_DETAILS_S_1 WHERE USERNAME = USER");
    }
    void PrepareSQL() {
        QFETCH(QString, schema);
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        TSqlHelper::CurrentSchema() = schema;
        QCOMPARE(TSqlHelper::PrepareSQL(sql), expected);
    }

    void ViewMapIsCaseInsensitive() {
        TSqlHelper::ViewBaseNames() = QStringList{QStringLiteral("user_details_s")};
        QCOMPARE(TSqlHelper::PrepareSQL(QStringLiteral("select 1 from ßXX.USER_DETAILS_S#")),
                 QStringLiteral("SELECT 1 FROM VELMAR_PROD.USER_DETAILS_S_1"));
    }

    void LoadResSql() {
        QCOMPARE(TSqlHelper::LoadResSql(QStringLiteral("NOSUCHRESOURCE")),
                 QStringLiteral("NOSUCHRESOURCE"));
        QCOMPARE(TSqlHelper::LoadResSql(QStringLiteral("select 1 from dual")),
                 QStringLiteral("select 1 from dual"));
        QVERIFY(TSqlHelper::LoadResSql(QStringLiteral("TESTRIGHTS"))
                    .startsWith(QStringLiteral("SELECT RIGHTS")));
    }

    void GetOraConnStr_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("service");
        QTest::addColumn<QString>("sid");
        QTest::addColumn<QString>("expected");
        QTest::newRow("both") << "localhost"
                              << "50123"
                              << "TARVOLIN"
                              << "TARVOLIN"
                              << "(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=LOCALHOST)(PORT=50123))"
                                 "(CONNECT_DATA=(SERVICE_NAME=TARVOLIN)(SID=TARVOLIN)))";
        QTest::newRow("sid only")
            << "db.example"
            << "1521"
            << ""
            << "orcl"
            << "(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=DB.EXAMPLE)(PORT=1521))"
               "(CONNECT_DATA=(SID=ORCL)))";
        QTest::newRow("service only") << "h"
                                      << "1"
                                      << "svc"
                                      << ""
                                      << "(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=H)(PORT=1))"
                                         "(CONNECT_DATA=(SERVICE_NAME=SVC)))";
        QTest::newRow("neither")
            << "h"
            << "1"
            << ""
            << ""
            << "(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=H)(PORT=1))(CONNECT_DATA=))";
    }
    void GetOraConnStr() {
        QFETCH(QString, host);
        QFETCH(QString, port);
        QFETCH(QString, service);
        QFETCH(QString, sid);
        QFETCH(QString, expected);
        QCOMPARE(TSqlHelper::GetOraConnStr(host, port, service, sid), expected);
    }

    void SetupOraclePath() {
        const QByteArray saved = qgetenv("PATH");
        const QString sep = QString(QDir::listSeparator());
        qputenv("PATH", QStringList{QStringLiteral("/usr/bin"), QStringLiteral("/opt/Oracle/bin"),
                                    QString(), QStringLiteral("/bin")}
                            .join(sep)
                            .toUtf8());
        TSqlHelper::SetupOraclePath(QStringLiteral("/home/u/client"));
        TSqlHelper::SetupOraclePath(QStringLiteral("/home/u/client"));
        QCOMPARE(qEnvironmentVariable("PATH"),
                 QStringList({QStringLiteral("/home/u/client"), QStringLiteral("/usr/bin"),
                              QStringLiteral("/bin")})
                     .join(sep));
        qputenv("PATH", saved);
    }

    void SetupOracleEnvironments() {
        qputenv("ORACLE_HOME", "/opt/oracle");
        TSqlHelper::SetupOracleEnvironments();
        QVERIFY(!qEnvironmentVariableIsSet("ORACLE_HOME"));
        QCOMPARE(qgetenv("NLS_LANG"), QByteArray("HUNGARIAN_HUNGARY.EE8MSWIN1250"));
        TSqlHelper::SetupOracleEnvironments(); // without ORACLE_HOME as well
    }

    void NoSessionOrClosedSession() {
        TSqlHelper helper;
        QVERIFY_THROWS_EXCEPTION(TSqlHelper::ENoConnection,
                                 helper.QueryStr(QStringLiteral("select 1")));
        TOraSession closed;
        helper.SetOraSession(&closed);
        try {
            helper.StartTransaction();
            QFAIL("a closed session started a transaction");
        } catch (const TSqlHelper::ENotConnected& e) {
            QCOMPARE(e.Title(), QStringLiteral("Nincsen az adatbázishoz kapcsolódva."));
        }
    }

    void RaiseSqlErrorFmt() {
        try {
            TSqlHelper::RaiseSqlErrorFmt(QStringLiteral("Cím"),
                                         QStringLiteral("A(z) %s nézet hiányzik."),
                                         QStringLiteral("PARTNER_S"));
            QFAIL("nothing was raised");
        } catch (const TSqlHelper::ESql& e) {
            QCOMPARE(e.Title(), QStringLiteral("Cím"));
            QCOMPARE(e.Message(), QStringLiteral("A PARTNER_S nézet hiányzik."));
        }
    }
};

QTEST_GUILESS_MAIN(TestSqlHelper)
#include "tst_SqlHelper.moc"
