// ctest-label: integration
#include "Common/DB/SqlHelper.h"
#include "Support/RefEnv.h"

#include <QTest>

class TestSqlHelperDb : public QObject {
    Q_OBJECT

private:
    TRefEnv Env;
    TOraSession Session;
    TSqlHelper Helper{&Session};

private slots:
    void initTestCase() {
        QVERIFY2(Env.Load(), qPrintable(Env.Error()));
        Session.SetUsername(Env.Value(QStringLiteral("TV_DEMO_USER")));
        Session.SetPassword(Env.Value(QStringLiteral("TV_DEMO_PASSWORD")));
        Session.SetServer(TSqlHelper::GetOraConnStr(
            Env.Value(QStringLiteral("TV_DB_HOST")), Env.Value(QStringLiteral("TV_DB_PORT")),
            Env.Value(QStringLiteral("TV_DB_SERVICE")), Env.Value(QStringLiteral("TV_DB_SID"))));
        Session.Connect();
        TSqlHelper::CurrentSchema() = Env.Value(QStringLiteral("TV_DB_SCHEMA")).toUpper();
        TSqlHelper::ViewBaseNames().clear();
        TSqlHelper::ViewFullNames().clear();
    }

    void SingleValues() {
        QCOMPARE(Helper.QueryInt(QStringLiteral("select ?::integer + 1"), {41}), 42);
        QCOMPARE(Helper.QueryNum(QStringLiteral("select 2.5::float8")), 2.5);
        QCOMPARE(static_cast<double>(Helper.QueryExt(QStringLiteral("select 0.125::numeric"))),
                 0.125);
        QCOMPARE(Helper.QueryStr(QStringLiteral("select 'Árvíz'")), QStringLiteral("Árvíz"));
    }

    void QueryBool_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("expected");
        QTest::newRow("text True") << "select 'True'" << true;
        QTest::newRow("text false") << "select 'false'" << false;
        QTest::newRow("text number") << "select '5'" << true;
        QTest::newRow("integer 1") << "select 1" << true;
        QTest::newRow("integer 2") << "select 2" << false;
        QTest::newRow("numeric 1") << "select 1.0::numeric" << true;
        QTest::newRow("boolean") << "select true" << true;
    }
    void QueryBool() {
        QFETCH(QString, sql);
        QFETCH(bool, expected);
        QCOMPARE(Helper.QueryBool(sql), expected);
    }

    void QueryBoolRejectsOtherText() {
        QVERIFY_THROWS_EXCEPTION(EConvertError, Helper.QueryBool(QStringLiteral("select 'igen'")));
    }

    void NoRow() {
        try {
            Helper.QueryStr(QStringLiteral("select 'x' where false"));
            QFAIL("no error for an empty result");
        } catch (const TSqlHelper::ESql& e) {
            QCOMPARE(e.Title(), QStringLiteral("A lekérdezésnek nincsen eredménye."));
            QCOMPARE(e.Message(),
                     QStringLiteral("A lekérdezésnek egyetlen sor eredménye sem volt."));
        }
        QVERIFY(Helper.QueryStrings(QStringLiteral("select 'x' where false")).isEmpty());
    }

    void Transactions() {
        try {
            Helper.Commit();
            QFAIL("commit without a transaction");
        } catch (const TSqlHelper::ESql& e) {
            QCOMPARE(e.Title(), QStringLiteral("Nincsen megkezdett tranzakció."));
        }
        QVERIFY_THROWS_EXCEPTION(TSqlHelper::ESql, Helper.Rollback());
        Helper.StartTransaction();
        try {
            Helper.StartTransaction();
            QFAIL("a second transaction started");
        } catch (const TSqlHelper::ESql& e) {
            QCOMPARE(e.Title(), QStringLiteral("Van megkezdett tranzakció."));
        }
        Helper.ExecProc(QStringLiteral("velmar_prod.log_event"), {QStringLiteral("próba")});
        Helper.Rollback();
        QCOMPARE(Helper.QueryInt(
                     QStringLiteral("select count(*) from ßXX.event_log# where message = 'próba'")),
                 0);
        Helper.StartReadOnlyTransaction();
        QVERIFY_THROWS_EXCEPTION(EOraError, Helper.ExecProc(QStringLiteral("velmar_prod.log_event"),
                                                            {QStringLiteral("x")}));
        Helper.Rollback();
    }

    void StoredCode() {
        QCOMPARE(Helper.ExecFunc(QStringLiteral("velmar_prod.add_numbers"), {40, 2}).toInt(), 42);
        QCOMPARE(Helper.ExecFunc(QStringLiteral("VELMAR_PROD.PARTNER_COUNT"), {QStringLiteral("P")})
                     .toInt(),
                 2);
        QVERIFY(!Helper.ExecFunc(QStringLiteral("velmar_prod.log_event"), {QStringLiteral("z")})
                     .isValid());
        try {
            Helper.ExecFunc(QStringLiteral("velmar_prod.check_partner_code"),
                            {QStringLiteral("x")});
            QFAIL("no application error");
        } catch (const EOraError& e) {
            QCOMPARE(e.ErrorCode(), 20101);
            QString text;
            QVERIFY(GetServerErrorMessage(e, text));
        }
    }

    // The seed's two queries, word for word, through the helper.
    void RightsAndVisibleViews() {
        const QString s = TSqlHelper::CurrentSchema();
        const QString sql =
            QStringLiteral("select view_name  from all_views av where owner = '") + s + "'" +
            "   and (view_name like '%#_S#__' escape '#')" + "   and exists (select 1" +
            "          from dba_tab_privs" + "         where owner = '" + s + "'" +
            "           and table_name = av.view_name" + "           and privilege = 'SELECT'" +
            "           and grantee in (select granted_role from dba_role_privs where grantee = "
            "user))" +
            "union " + "select view_name" + "  from all_views av" + " where owner = '" + s + "'" +
            "   and (view_name like '%#_U#__' escape '#')" + "   and exists (select 1" +
            "          from dba_tab_privs" + "         where owner = '" + s + "'" +
            "           and table_name = av.view_name" +
            "           and privilege in ('UPDATE', 'INSERT', 'DELETE')" +
            "           and grantee in (select granted_role from dba_role_privs where grantee = "
            "user))" +
            " order by 1";
        auto data = Helper.QueryData(sql);
        QStringList names;
        for (; !data->Eof(); data->Next())
            names << data->FieldByName(QStringLiteral("VIEW_NAME")).AsString();
        QCOMPARE(names, QStringList({"INVOICE_S_1", "PARTNER_S_1", "PARTNER_U_1",
                                     "USER_DETAILS_S_1", "USER_DETAILS_S_2"}));
        // Without a map the view name stays the logical one, which does not exist.
        QVERIFY_THROWS_EXCEPTION(
            EOraError, Helper.QueryStr(QStringLiteral(
                           "select rights from ßXX.user_details_s# where username = user")));
        TSqlHelper::ViewBaseNames() = QStringList{QStringLiteral("USER_DETAILS_S")};
        TSqlHelper::ViewFullNames() = QStringList{QStringLiteral("USER_DETAILS_S_1")};
        QCOMPARE(Helper.QueryStr(QStringLiteral(
                     "select rights from ßXX.user_details_s# where username = user")),
                 QStringLiteral("1234"));
    }
};

QTEST_GUILESS_MAIN(TestSqlHelperDb)
#include "tst_SqlHelperDb.moc"
