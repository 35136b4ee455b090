// ctest-label: integration
// ctest-timeout: 120
#include "Platform/Db/OraDriver.h"
#include "Support/RefEnv.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>
#include <link.h>

class TestOraDriver : public QObject {
    Q_OBJECT

private:
    TRefEnv Env;

    QString Descriptor(quint16 port, const QString& service, const QString& sid = QString()) const {
        QString text = QStringLiteral("(DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(HOST=%1)(PORT=%2))"
                                      "(CONNECT_DATA=")
                           .arg(Env.Value(QStringLiteral("TV_DB_HOST")))
                           .arg(port);
        if (!service.isEmpty())
            text += QStringLiteral("(SERVICE_NAME=%1)").arg(service);
        if (!sid.isEmpty())
            text += QStringLiteral("(SID=%1)").arg(sid);
        return text + QStringLiteral("))");
    }

    void Open(TOraSession& session, const QString& password = QString()) {
        session.SetUsername(Env.Value(QStringLiteral("TV_DEMO_USER")).toUpper());
        session.SetPassword(password.isEmpty() ? Env.Value(QStringLiteral("TV_DEMO_PASSWORD"))
                                               : password);
        session.SetServer(Descriptor(Env.Port(QStringLiteral("TV_DB_PORT")),
                                     Env.Value(QStringLiteral("TV_DB_SERVICE"))));
        session.Connect();
    }

    static int ErrorCodeOf(const std::function<void()>& work, QString* message = nullptr) {
        try {
            work();
        } catch (const EOraError& e) {
            if (message != nullptr)
                *message = e.Message();
            return e.ErrorCode();
        }
        return 0;
    }

private slots:
    void initTestCase() { QVERIFY2(Env.Load(), qPrintable(Env.Error())); }

    void QueryWithPositionalParameters() {
        TOraSession session;
        Open(session);
        QVERIFY(session.Connected());
        auto data = session.OpenQuery(
            QStringLiteral("SELECT PARTNER_CODE, NAME FROM VELMAR_PROD.PARTNER_S_1 "
                           "WHERE PARTNER_ID >= :FROM_ID AND PARTNER_ID <= :TO_ID ORDER BY 1"),
            {1, 2});
        QCOMPARE(data->RecordCount(), 2);
        QCOMPARE(data->FieldByName(QStringLiteral("partner_code")).AsString(),
                 QStringLiteral("P0000001"));
        QCOMPARE(data->FieldByName(QStringLiteral("NAME")).AsString(), QStringLiteral("Első Kft."));
        data->Next();
        QCOMPARE(data->Fields(0).AsString(), QStringLiteral("P0000002"));
        data->Next();
        QVERIFY(data->Eof());
        QCOMPARE(TOraSession::ParamCount(
                     QStringLiteral("select ':X' from t where a = :A and b::text = ?")),
                 2);
    }

    void TypedColumns() {
        TOraSession session;
        Open(session);
        auto data = session.OpenQuery(
            QStringLiteral("select 42::integer, 3.25::numeric, true, 'abc'::varchar, null::text, "
                           "timestamp '2024-03-05 06:07:08'"));
        QCOMPARE(data->Fields(0).DataType(), TOraFieldType::ftInteger);
        QCOMPARE(data->Fields(0).AsInteger(), 42);
        QCOMPARE(data->Fields(1).AsFloat(), 3.25);
        QVERIFY(data->Fields(2).AsBoolean());
        QCOMPARE(data->Fields(3).AsString(), QStringLiteral("abc"));
        QVERIFY(data->Fields(4).IsNull());
        QCOMPARE(data->Fields(5).AsDateTime(), QDateTime(QDate(2024, 3, 5), QTime(6, 7, 8)));
    }

    void RightsAndVisibleViews() {
        TOraSession session;
        Open(session);
        auto rights = session.OpenQuery(QStringLiteral(
            "SELECT RIGHTS FROM VELMAR_PROD.USER_DETAILS_S_1 WHERE USERNAME = USER"));
        QCOMPARE(rights->Fields(0).AsString(), QStringLiteral("1234"));
    }

    void ApplicationErrorKeepsItsCode() {
        TOraSession session;
        Open(session);
        QString message;
        QCOMPARE(ErrorCodeOf(
                     [&] {
                         session.OpenQuery(
                             QStringLiteral("select velmar_prod.check_partner_code(?)"),
                             {QStringLiteral("rossz")});
                     },
                     &message),
                 20101);
        QCOMPARE(message, QStringLiteral("ORA-20101: A(z) \"rossz\" partnerkód nem megfelelő."));
        QVERIFY(session.Connected()); // an error of the statement leaves the session usable
        QCOMPARE(
            ErrorCodeOf([&] { session.OpenQuery(QStringLiteral("select * from nincs_ilyen")); },
                        &message),
            942);
        QVERIFY(message.startsWith(QStringLiteral("ORA-00942: ")));
    }

    void ConnectErrors_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("code");
        QTest::newRow("nothing listens") << 0 << 12541;
        QTest::newRow("wrong password") << 1 << 1017;
        QTest::newRow("unknown service") << 2 << 12514;
        QTest::newRow("no service in descriptor") << 3 << 12154;
    }
    void ConnectErrors() {
        QFETCH(int, kind);
        QFETCH(int, code);
        TOraSession session;
        session.SetUsername(Env.Value(QStringLiteral("TV_DEMO_USER")));
        session.SetPassword(kind == 1 ? QStringLiteral("nem-jo")
                                      : Env.Value(QStringLiteral("TV_DEMO_PASSWORD")));
        const quint16 port = kind == 0 ? 1 : Env.Port(QStringLiteral("TV_DB_PORT"));
        const QString service = kind == 2   ? QStringLiteral("NINCS")
                                : kind == 3 ? QString()
                                            : Env.Value(QStringLiteral("TV_DB_SERVICE"));
        session.SetServer(Descriptor(port, service));
        QCOMPARE(ErrorCodeOf([&] { session.Connect(); }), code);
        QVERIFY(!session.Connected());
    }

    void SidWorksLikeServiceName() {
        TOraSession session;
        session.SetUsername(Env.Value(QStringLiteral("TV_DEMO_USER")));
        session.SetPassword(Env.Value(QStringLiteral("TV_DEMO_PASSWORD")));
        session.SetServer(Descriptor(Env.Port(QStringLiteral("TV_DB_PORT")), QString(),
                                     Env.Value(QStringLiteral("TV_DB_SERVICE"))));
        session.Connect();
        QVERIFY(session.Connected());
    }

    void LostConnectionIsEndOfFile() {
        TOraSession session;
        Open(session);
        int notified = 0;
        session.OnAfterDisconnect = [&] { ++notified; };
        const QString pid =
            session.OpenQuery(QStringLiteral("select pg_backend_pid()"))->Fields(0).AsString();
        QCOMPARE(Env.SuperuserQuery(QStringLiteral("select pg_terminate_backend(%1)").arg(pid)),
                 QStringLiteral("t"));
        QString message;
        QCOMPARE(ErrorCodeOf([&] { session.OpenQuery(QStringLiteral("select 1")); }, &message),
                 3113);
        QCOMPARE(message, QStringLiteral("ORA-03113: end-of-file on communication channel"));
        QCOMPARE(notified, 1);
        QVERIFY(!session.Connected());
        QCOMPARE(ErrorCodeOf([&] { session.OpenQuery(QStringLiteral("select 1")); }), 3114);
        QCOMPARE(notified, 1);
    }

    void Transactions() {
        TOraSession session;
        Open(session);
        QVERIFY(!session.InTransaction());
        session.StartTransaction();
        QVERIFY(session.InTransaction());
        session.ExecSQL(QStringLiteral("insert into velmar_prod.event_log (message) values (?)"),
                        {QStringLiteral("visszavont")});
        session.Rollback();
        QVERIFY(!session.InTransaction());
        QCOMPARE(session
                     .OpenQuery(QStringLiteral("select count(*) from velmar_prod.event_log "
                                               "where message = 'visszavont'"))
                     ->Fields(0)
                     .AsInteger(),
                 0);
        session.StartTransaction();
        session.ExecSQL(QStringLiteral("begin dbms_transaction.read_only; end;"));
        QCOMPARE(ErrorCodeOf([&] {
                     session.ExecSQL(QStringLiteral(
                         "insert into velmar_prod.event_log (message) values ('x')"));
                 }),
                 1456);
        session.Rollback();
    }

    void StoredProcedures() {
        TOraSession session;
        Open(session);
        auto params = session.DescribeProc(QStringLiteral("VELMAR_PROD.ADD_NUMBERS"));
        QCOMPARE(params.size(), std::size_t(3));
        QCOMPARE(params[0].Name, QStringLiteral("P_A"));
        QCOMPARE(params[2].Direction, TParamDirection::pdResult);
        params[0].Value = 40;
        params[1].Value = 2;
        session.ExecProc(QStringLiteral("VELMAR_PROD.ADD_NUMBERS"), params);
        QCOMPARE(params[2].Value.toInt(), 42);

        auto proc = session.DescribeProc(QStringLiteral("velmar_prod.partner_count"));
        QCOMPARE(proc.size(), std::size_t(2));
        QCOMPARE(proc[1].Direction, TParamDirection::pdOutput);
        proc[0].Value = QStringLiteral("P");
        session.ExecProc(QStringLiteral("velmar_prod.partner_count"), proc);
        QCOMPARE(proc[1].Value.toInt(), 2);

        auto failing = session.DescribeProc(QStringLiteral("VELMAR_PROD.CHECK_PARTNER_CODE"));
        failing[0].Value = QStringLiteral("x");
        QCOMPARE(ErrorCodeOf([&] {
                     session.ExecProc(QStringLiteral("VELMAR_PROD.CHECK_PARTNER_CODE"), failing);
                 }),
                 20101);
        QCOMPARE(ErrorCodeOf([&] { session.DescribeProc(QStringLiteral("VELMAR_PROD.NINCS")); }),
                 6550);
    }

    // The client library comes from the client folder when it holds one.
    void ClientLibraryFromClientHome() {
        Dl_info info{};
        void* system = dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD);
        if (system == nullptr)
            system = dlopen("libpq.so.5", RTLD_NOW);
        QVERIFY(system != nullptr);
        QVERIFY(dladdr(dlsym(system, "PQconnectdbParams"), &info) != 0);
        const QString systemFile = QString::fromLocal8Bit(info.dli_fname);
        dlclose(system);

        QTemporaryDir home;
        QVERIFY(QDir().mkpath(home.filePath(QStringLiteral("lib"))));
        QVERIFY(QFile::link(systemFile, home.filePath(QStringLiteral("lib/libpq.so.5"))));
        ReleaseOraClientLibrary();
        SetOraClientHome(home.path());
        {
            TOraSession session;
            Open(session);
            QCOMPARE(OraClientLibraryFile(), home.filePath(QStringLiteral("lib/libpq.so.5")));
            ReleaseOraClientLibrary(); // in use: stays
            QVERIFY(OraClientLibraryLoaded());
            session.Disconnect();
            ReleaseOraClientLibrary();
            QVERIFY(!OraClientLibraryLoaded());
        }
        QTemporaryDir empty;
        SetOraClientHome(empty.path());
        TOraSession session;
        Open(session);
        QCOMPARE(OraClientLibraryFile(), QStringLiteral("libpq.so.5"));
        session.Disconnect();
        SetOraClientHome(QString());
        ReleaseOraClientLibrary();
    }
};

QTEST_GUILESS_MAIN(TestOraDriver)
#include "tst_OraDriver.moc"
