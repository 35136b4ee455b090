// ctest-label: integration
// ctest-timeout: 120
#include "Client/Common/Database/OraClientModule.h"
#include "Client/Common/SSH/SSHClientModule.h"
#include "Support/RefEnv.h"

#include <QTest>

#include <atomic>

class TestConnectionModules : public QObject {
    Q_OBJECT

private:
    TRefEnv Env;

    std::unique_ptr<TEnvironment> MakeEnv(bool tunnels) {
        auto env = TItem::Create<TEnvironment>();
        env->SetSSHAddress(Env.Value(QStringLiteral("TV_SSH_HOST")));
        env->SetSSHPort(Env.Port(QStringLiteral("TV_SSH_PORT")));
        env->SetDBAddress(Env.Value(QStringLiteral("TV_DB_HOST")));
        env->SetDBPort(Env.Port(QStringLiteral("TV_DB_PORT")));
        env->SetDBService(Env.Value(QStringLiteral("TV_DB_SERVICE")));
        env->SetSID(Env.Value(QStringLiteral("TV_DB_SID")));
        env->SetDBSchema(Env.Value(QStringLiteral("TV_DB_SCHEMA")));
        env->SetDataSnapAddress(QStringLiteral("127.0.0.1"));
        env->SetDataSnapPort(28080);
        env->SetUseSSHTunnels(tunnels);
        return env;
    }
    QString User() const { return Env.Value(QStringLiteral("TV_DEMO_USER")); }
    QString Password() const { return Env.Value(QStringLiteral("TV_DEMO_PASSWORD")); }

private slots:
    void initTestCase() { QVERIFY2(Env.Load(), qPrintable(Env.Error())); }

    // The trusted key built into the program is the reference gateway's.
    void BuiltInKeyIsTheGatewayKey() {
        TSshKey key(QStringLiteral("TarvolinService"));
        TSSHUtils::LoadKeyFromResource(&key);
        QVERIFY(key.Equals(Env.GatewayKey()));
        QVERIFY(!key.Equals(Env.ForeignKey()));
        TSshKey unknown(QStringLiteral("Nincs"));
        QVERIFY_THROWS_EXCEPTION(EResNotFound, TSSHUtils::LoadKeyFromResource(&unknown));
    }

    // Login through the gateway, both tunnels, then the database through its
    // tunnel: the seed's rights query answers the user's rights.
    void LoginWithTunnels() {
        auto env = MakeEnv(true);
        TSSHClientModule ssh;
        TOraClientModule ora;
        ora.OnGetOracleAddress = [&](QString&, uint16_t& port) {
            if (ssh.UseSSHTunnels())
                port = ssh.OracleTunnelPort();
        };
        TSSHConnectTask sshTask(&ssh, User(), Password(), env.get());
        QCOMPARE(sshTask.Caption(), QStringLiteral("Biztonságos kapcsolat kiépítése."));
        sshTask.Execute();
        QVERIFY(ssh.Connected());
        QCOMPARE(ssh.SessionId().size(), 38);
        QVERIFY(ssh.OracleTunnelPort() != 0);
        QVERIFY(ssh.DataSnapTunnelPort() != 0);
        QVERIFY(ssh.OracleTunnelPort() != ssh.DataSnapTunnelPort());
        QCOMPARE(ssh.VirtualStorage().Count(), 1);

        TOraConnectTask oraTask(&ora, User(), Password(), env.get());
        QCOMPARE(oraTask.Caption(), QStringLiteral("Csatlakozás az adatbázishoz."));
        oraTask.Execute();
        QVERIFY(ora.Connected());
        QVERIFY(ora.OraClient().Server().contains(
            QStringLiteral("(HOST=LOCALHOST)(PORT=%1)").arg(ssh.OracleTunnelPort())));
        TSqlHelper::CurrentSchema() = env->DBSchema().toUpper();
        TSqlHelper::ViewBaseNames() = QStringList{QStringLiteral("USER_DETAILS_S")};
        TSqlHelper::ViewFullNames() = QStringList{QStringLiteral("USER_DETAILS_S_1")};
        QCOMPARE(ora.SqlHelper().QueryStr(QStringLiteral(
                     "select rights from ßXX.user_details_s# where username = user")),
                 QStringLiteral("1234"));

        ora.Disconnect();
        QVERIFY(!ora.Connected());
        ssh.Disconnect();
        QVERIFY(!ssh.Connected());
        QCOMPARE(ssh.OracleTunnelPort(), uint16_t(0));
        QCOMPARE(ssh.SessionId().size(), 38); // kept until the next connect
    }

    void WithoutTunnels() {
        auto env = MakeEnv(false);
        TSSHClientModule ssh;
        QVERIFY(ssh.Connect(User(), Password(), env.get()));
        QCOMPARE(ssh.OracleTunnelPort(), uint16_t(0));
        QCOMPARE(ssh.DataSnapTunnelPort(), uint16_t(0));
        TOraClientModule ora;
        QVERIFY(ora.Connect(User(), Password(), env.get())); // straight to the database
    }

    void WrongPasswordIsAuthFailed() {
        auto env = MakeEnv(true);
        TSSHClientModule ssh;
        try {
            ssh.Connect(User(), QStringLiteral("nem-jo"), env.get());
            QFAIL("a wrong password was accepted");
        } catch (const EAuthFailed& e) {
            QCOMPARE(e.Title(), QStringLiteral("A bejelentkezés sikertelen."));
            QCOMPARE(e.Message(), QStringLiteral("Authentication failed"));
        }
        QVERIFY(!ssh.Connected());
    }

    void ForeignHostKeyIsNotAuthFailed() {
        auto env = MakeEnv(true);
        TSSHClientModule ssh;
        ssh.VirtualStorage()
            .AddKey(QStringLiteral("TarvolinService"))
            ->LoadPublicKey(Env.ForeignKey());
        try {
            ssh.Connect(User(), Password(), env.get());
            QFAIL("an untrusted gateway was accepted");
        } catch (const EAuthFailed&) {
            QFAIL("a host-key refusal became EAuthFailed");
        } catch (const ESshError& e) {
            QVERIFY(e.Message().contains(QStringLiteral("Host key")));
        }
        QVERIFY(!ssh.Connected());
    }

    // The gateway goes away under a logged-in user: the SSH client reports
    // it once from its own thread, and the database session through the
    // tunnel fails with the end-of-file error and reports it once too.
    void DroppedGatewayUnderLoggedInUser() {
        TPrivateGateway gateway;
        QVERIFY(gateway.Start(Env));
        auto env = MakeEnv(true);
        env->SetSSHPort(gateway.Port());
        TSSHClientModule ssh;
        TOraClientModule ora;
        ora.OnGetOracleAddress = [&](QString&, uint16_t& port) { port = ssh.OracleTunnelPort(); };
        std::atomic<int> sshDropped{0};
        int oraDropped = 0;
        ssh.SSHClient().OnAfterDisconnect = [&] { ++sshDropped; };
        ora.OraClient().OnAfterDisconnect = [&] { ++oraDropped; };
        QVERIFY(ssh.Connect(User(), Password(), env.get()));
        QVERIFY(ora.Connect(User(), Password(), env.get()));
        QCOMPARE(ora.SqlHelper().QueryInt(QStringLiteral("select 7")), 7);

        gateway.Kill();
        QTRY_COMPARE_WITH_TIMEOUT(sshDropped.load(), 1, 10000);
        QVERIFY(!ssh.Connected());
        try {
            ora.SqlHelper().QueryInt(QStringLiteral("select 8"));
            QFAIL("a query ran through a dead tunnel");
        } catch (const EOraError& e) {
            QCOMPARE(e.ErrorCode(), 3113);
            QVERIFY(IsOracleNetworkError(e.Message()));
        }
        QCOMPARE(oraDropped, 1);
        ora.Disconnect();
        ssh.Disconnect();
        QTest::qWait(300);
        QCOMPARE(sshDropped.load(), 1);
        QCOMPARE(oraDropped, 1);
    }

    void DatabaseErrorsLeaveModuleDisconnected() {
        auto env = MakeEnv(false);
        env->SetDBPort(1);
        TOraClientModule ora;
        try {
            ora.Connect(User(), Password(), env.get());
            QFAIL("connected to nothing");
        } catch (const EOraError& e) {
            QCOMPARE(e.ErrorCode(), 12541);
            QVERIFY(!IsOracleNetworkError(e.Message())); // refused at connect, not lost in use
        }
        QVERIFY(!ora.Connected());
    }

    void DisconnectNeverConnected() {
        TSSHClientModule ssh;
        TOraClientModule ora;
        ssh.Disconnect();
        ora.Disconnect();
        QVERIFY(!ssh.Connected());
        QVERIFY(!ora.Connected());
    }

    void ConnectTaskPreconditions() {
        auto env = MakeEnv(true);
        TSSHClientModule ssh;
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed,
                                 TSSHConnectTask(&ssh, User(), QString(), env.get()));
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed,
                                 TSSHConnectTask(&ssh, QString(), Password(), env.get()));
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed,
                                 TSSHConnectTask(&ssh, User(), Password(), nullptr));
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed,
                                 TSSHConnectTask(nullptr, User(), Password(), env.get()));
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, ssh.Connect(User(), Password(), nullptr));
    }
};

QTEST_GUILESS_MAIN(TestConnectionModules)
#include "tst_ConnectionModules.moc"
