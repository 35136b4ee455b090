// ctest-label: unit
#include "Client/Common/Database/OraClientModule.h"
#include "Client/Common/Main/ClientModule.h"

#include <QDir>

#include <QTest>

namespace {
// A module whose connection is a flag; its steps can be made to fail.
class TFakeModule : public TClientModule {
public:
    bool Up = false;
    bool FailConnect = false;
    bool FailDisconnect = false;
    int Connects = 0;
    int Disconnects = 0;
    QStringList* Log = nullptr;

    ~TFakeModule() override { Destroying(); }
    bool Connected() const override { return Up; }

protected:
    void DoConnect(const QString& user, const QString&, const TEnvironment&) override {
        ++Connects;
        Up = true;
        if (FailConnect)
            throw ECustom(QStringLiteral("Hiba"), QStringLiteral("Nem sikerült: ") + user);
    }
    void DoDisconnect() override {
        ++Disconnects;
        Up = false;
        if (Log != nullptr)
            Log->append(QStringLiteral("disconnect"));
        if (FailDisconnect)
            throw ECustom(QStringLiteral("Hiba"), QStringLiteral("Bontási hiba."));
    }
};
} // namespace

class TestClientModule : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TEnvironment> Env = TItem::Create<TEnvironment>();
    QStringList Handled;

private slots:
    void init() {
        Handled.clear();
        TClientModule::SetCentralExceptionHandler([this] {
            try {
                throw;
            } catch (const std::exception& e) {
                Handled << ExceptionMessage(e);
            }
        });
    }
    void cleanup() { TClientModule::SetCentralExceptionHandler(nullptr); }

    void ConnectAnswersConnected() {
        TFakeModule module;
        QVERIFY(module.Connect(QStringLiteral("u"), QStringLiteral("p"), Env.get()));
        QCOMPARE(module.Connects, 1);
        QCOMPARE(module.Disconnects, 0);
    }

    void FailedConnectDisconnectsAndReraises() {
        TFakeModule module;
        module.FailConnect = true;
        try {
            module.Connect(QStringLiteral("anna"), QStringLiteral("p"), Env.get());
            QFAIL("the error was swallowed");
        } catch (const ECustom& e) {
            QCOMPARE(e.Message(), QStringLiteral("Nem sikerült: anna"));
        }
        QCOMPARE(module.Disconnects, 1);
        QVERIFY(!module.Connected());
    }

    void FailedConnectWithFailingDisconnectRaisesTheConnectError() {
        TFakeModule module;
        module.FailConnect = true;
        module.FailDisconnect = true;
        QVERIFY_THROWS_EXCEPTION(
            ECustom, module.Connect(QStringLiteral("u"), QStringLiteral("p"), Env.get()));
        QCOMPARE(Handled, QStringList{QStringLiteral("Bontási hiba.")});
    }

    void DisconnectNeverRaises() {
        TFakeModule module;
        module.FailDisconnect = true;
        module.Disconnect();
        QCOMPARE(Handled, QStringList{QStringLiteral("Bontási hiba.")});
    }

    void MissingEnvironmentIsProgrammingError() {
        TFakeModule module;
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed,
                                 module.Connect(QStringLiteral("u"), QStringLiteral("p"), nullptr));
        QCOMPARE(module.Connects, 0);
    }

    void DestroyingDisconnects() {
        QStringList log;
        {
            TFakeModule module;
            module.Log = &log;
            module.Connect(QStringLiteral("u"), QStringLiteral("p"), Env.get());
        }
        QCOMPARE(log, QStringList{QStringLiteral("disconnect")});
        QVERIFY(Handled.isEmpty());
    }

    void ConnectTaskRunsModuleConnect() {
        TFakeModule module;
        TModuleConnectTask task(&module, QStringLiteral("Kapcsolódás."), QStringLiteral("u"),
                                QStringLiteral("p"), Env.get());
        QCOMPARE(task.Caption(), QStringLiteral("Kapcsolódás."));
        QCOMPARE(task.UserName(), QStringLiteral("u"));
        QCOMPARE(task.Password(), QStringLiteral("p"));
        QCOMPARE(task.Env(), Env.get());
        task.Execute();
        QVERIFY(module.Connected());
    }

    // The database client folder goes into PATH when it is set up and leaves
    // it when the client is released.
    void OracleClientFolderInPath() {
        const QByteArray saved = qgetenv("PATH");
        const QString sep = QString(QDir::listSeparator());
        qputenv("PATH", QStringLiteral("/usr/bin%1/opt/oracle/bin%1/bin").arg(sep).toUtf8());
        TOraClientModule module;
        module.SetupOracleEnvironments(QStringLiteral("/srv/client/Oracle"));
        QCOMPARE(qEnvironmentVariable("PATH"),
                 QStringLiteral("/srv/client/Oracle%1/usr/bin%1/bin").arg(sep));
        QCOMPARE(OraClientHome(), QStringLiteral("/srv/client/Oracle"));
        TOraClientModule::ReleaseOracleClient();
        QCOMPARE(qEnvironmentVariable("PATH"), QStringLiteral("/usr/bin%1/bin").arg(sep));
        SetOraClientHome(QString());
        qputenv("PATH", saved);
    }

    void ConnectTaskPreconditions_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("withEnv");
        QTest::newRow("empty caption") << ""
                                       << "u"
                                       << "p" << true;
        QTest::newRow("empty user") << "c"
                                    << ""
                                    << "p" << true;
        QTest::newRow("empty password") << "c"
                                        << "u"
                                        << "" << true;
        QTest::newRow("no environment") << "c"
                                        << "u"
                                        << "p" << false;
    }
    void ConnectTaskPreconditions() {
        QFETCH(QString, caption);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, withEnv);
        TFakeModule module;
        QVERIFY_THROWS_EXCEPTION(
            EAssertionFailed,
            TModuleConnectTask(&module, caption, user, password, withEnv ? Env.get() : nullptr));
    }
};

QTEST_GUILESS_MAIN(TestClientModule)
#include "tst_ClientModule.moc"
