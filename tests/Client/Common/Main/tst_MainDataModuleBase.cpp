// ctest-label: integration
// ctest-timeout: 300
#include "Client/Common/DataSnap/DataSnapClientModule.h"
#include "Client/Common/Database/OraClientModule.h"
#include "Client/Common/Main/MainDataModuleBase.h"
#include "Client/Common/SSH/SSHClientModule.h"
#include "Common/DB/SqlHelper.h"
#include "Common/Environments/Environments.h"
#include "Common/Error/CustomException.h"
#include "Common/Packages/PackageDeployer.h"
#include "Common/Rights/Rights.h"
#include "Common/Session/Sessions.h"
#include "Platform/DataSnap/DSProtocol.h"
#include "Support/RefEnv.h"
#include "Support/TempAppData.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <httplib.h>

#include <deque>

namespace {

struct TShown {
    QString Caption;
    QString Title;
    QString Message;
};

// Records what the error window would show.
class TRecordingPresenter : public IExceptionPresenter {
public:
    void Present(const std::exception& error, const QString& caption, const QString& titleFmt,
                 const QString& messageFmt) override {
        const auto* custom = dynamic_cast<const ECustom*>(&error);
        const auto* base = dynamic_cast<const Exception*>(&error);
        Shown.push_back(
            {caption, custom ? custom->Title() : titleFmt,
             messageFmt.isEmpty() ? (base ? base->Message() : QString(error.what())) : messageFmt});
    }
    void PresentMessage(const QString& caption, const QString& title,
                        const QString& message) override {
        Shown.push_back({caption, title, message});
    }
    int CountCaption(const QString& caption) const {
        int n = 0;
        for (const TShown& s : Shown)
            n += s.Caption == caption ? 1 : 0;
        return n;
    }
    QList<TShown> Shown;
};

// Answers the login dialog from a script; an empty script cancels.
class TScriptedLogin : public ILoginPrompt {
public:
    struct TAnswer {
        QString User;
        QString Password;
        QString Env;
    };
    bool Login(QString& userName, QString& password, const QList<TSession*>&,
               const QList<TEnvironment*>&, QString& envName) override {
        ++Asked;
        if (Script.empty())
            return false;
        userName = Script.front().User;
        password = Script.front().Password;
        envName = Script.front().Env;
        Script.pop_front();
        return true;
    }
    std::deque<TAnswer> Script;
    int Asked = 0;
};

// The module with its termination and disconnect end recorded.
class TTestModule : public TMainDataModuleBase {
public:
    using TMainDataModuleBase::TMainDataModuleBase;
    int Terminated = 0;
    std::function<void()> OnAfterDisconnect;
    void AfterDisconnect() override {
        if (OnAfterDisconnect)
            OnAfterDisconnect();
    }

protected:
    void TerminateApplication() override { ++Terminated; }
};

const QString EnvName = QStringLiteral("Referencia");

} // namespace

class TestMainDataModuleBase : public QObject {
    Q_OBJECT

private:
    TRefEnv Env;
    std::unique_ptr<TTempAppData> AppData;
    TRecordingPresenter Presenter;
    TScriptedLogin LoginPrompt;
    std::unique_ptr<TTestModule> Module;

    QString User() const { return Env.Value(QStringLiteral("TV_DEMO_USER")); }
    QString Password() const { return Env.Value(QStringLiteral("TV_DEMO_PASSWORD")); }

    void AddEnvironment(quint16 sshPort) {
        TEnvironment* env = TItem::Create<TEnvironment>(Module->Environments);
        env->SetId(EnvName);
        env->SetSSHAddress(Env.Value(QStringLiteral("TV_SSH_HOST")));
        env->SetSSHPort(sshPort);
        env->SetDBAddress(Env.Value(QStringLiteral("TV_DB_HOST")));
        env->SetDBPort(Env.Port(QStringLiteral("TV_DB_PORT")));
        env->SetDBService(Env.Value(QStringLiteral("TV_DB_SERVICE")));
        env->SetSID(Env.Value(QStringLiteral("TV_DB_SID")));
        env->SetDBSchema(Env.Value(QStringLiteral("TV_DB_SCHEMA")));
        env->SetDataSnapAddress(QStringLiteral("127.0.0.1"));
        env->SetDataSnapPort(Env.Port(QStringLiteral("TV_APPSERVER_PORT")));
        env->SetUseSSHTunnels(true);
    }
    void NewModule(quint16 sshPort = 0) {
        Module = std::make_unique<TTestModule>();
        AddEnvironment(sshPort ? sshPort : Env.Port(QStringLiteral("TV_SSH_PORT")));
    }
    void Answer(const QString& password) {
        LoginPrompt.Script.push_back({User(), password, EnvName});
    }
    void CheckLoggedOut() {
        QVERIFY(!Module->Connected());
        QVERIFY(Module->ActionConnect->isEnabled());
        QVERIFY(!Module->ActionDisconnect->isEnabled());
    }

private slots:
    void initTestCase() {
        QVERIFY2(Env.Load(), qPrintable(Env.Error()));
        AppData = std::make_unique<TTempAppData>();
        SetExceptionPresenter(&Presenter);
        TMainDataModuleBase::SetLoginPrompt(&LoginPrompt);
    }
    void cleanupTestCase() {
        Module.reset();
        TMainDataModuleBase::SetLoginPrompt(nullptr);
        SetExceptionPresenter(nullptr);
    }
    void init() {
        Presenter.Shown.clear();
        LoginPrompt.Script.clear();
        LoginPrompt.Asked = 0;
    }
    void cleanup() { Module.reset(); }

    void ActionsAtStart() {
        NewModule();
        QCOMPARE(Module->ActionConnect->text(), QStringLiteral("Bejelentkezés"));
        QCOMPARE(Module->ActionConnect->property("ImageIndex").toInt(), 15);
        QCOMPARE(Module->ActionDisconnect->text(), QStringLiteral("Kijelentkezés"));
        QCOMPARE(Module->ActionDisconnect->property("ImageIndex").toInt(), 16);
        QCOMPARE(Module->ActionHelp->property("ImageIndex").toInt(), 10);
        CheckLoggedOut();
    }

    // Login through the gateway: the session identity reaches the
    // application server, views and rights come from the database.
    void LoginSucceeds() {
        NewModule();
        Answer(Password());
        QVERIFY(Module->ConnectWithRetry(false));
        QVERIFY(Module->Connected());
        QVERIFY(!Module->ActionConnect->isEnabled());
        QVERIFY(Module->ActionDisconnect->isEnabled());
        QVERIFY(Presenter.Shown.isEmpty());
        QCOMPARE(Module->Sessions->Current()->UserName(), User());

        QCOMPARE(TSqlHelper::CurrentSchema(), Env.Value(QStringLiteral("TV_DB_SCHEMA")).toUpper());
        const QStringList bases = TSqlHelper::ViewBaseNames();
        const QStringList fulls = TSqlHelper::ViewFullNames();
        QCOMPARE(bases.size(), fulls.size());
        QVERIFY(bases.contains(QStringLiteral("USER_DETAILS_S")));
        QCOMPARE(fulls.at(bases.indexOf(QStringLiteral("USER_DETAILS_S"))),
                 QStringLiteral("USER_DETAILS_S_1"));
        QVERIFY(bases.contains(QStringLiteral("PARTNER_U")));
        QVERIFY(!bases.contains(QStringLiteral("SECRET_S")));
        QVERIFY(std::is_sorted(bases.begin(), bases.end()));

        // Rights "1234".
        QCOMPARE(Module->Rights()[1].Value(), rvRead);
        QCOMPARE(Module->Rights()[2].Value(), rvWrite);
        QCOMPARE(Module->Rights()[3].Value(), rvNew);
        QCOMPARE(Module->Rights()[4].Value(), rvDelete);
        QCOMPARE(Module->Rights()[5].Value(), rvNone);

        // What the application server keeps for this session.
        TDSConnection& conn = Module->DataSnapModule()->SrvConn();
        httplib::Client http("127.0.0.1", Env.Port(QStringLiteral("TV_APPSERVER_PORT")));
        http.set_basic_auth(User().toStdString(), Password().toStdString());
        httplib::Headers headers{{DSProtocol::SessionHeader, conn.SessionId().toStdString()}};
        auto res = http.Get(DSProtocol::ResourcesPath, headers);
        QVERIFY(res);
        QCOMPARE(res->status, 200);
        const QJsonObject answer =
            QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
        QCOMPARE(answer.value(QStringLiteral("sshSessionId")).toString(),
                 Module->SSHModule()->SessionId());
        QCOMPARE(Module->SSHModule()->SessionId().size(), 38);

        // The two packages the connect brings in step are installed.
        QVERIFY(Module->PackageManager->FindLatestByName(QStringLiteral("7Zip")) != nullptr);
        QVERIFY(Module->PackageManager->FindLatestByName(QStringLiteral("Oracle")) != nullptr);

        Module->ActionDisconnect->trigger();
        CheckLoggedOut();
        QVERIFY(Presenter.Shown.isEmpty()); // a disconnect asked for says nothing
    }

    void LoginCancelledChangesNothing() {
        NewModule();
        Answer(Password());
        QVERIFY(Module->ConnectWithRetry(false));
        QVERIFY(!Module->Connect(false)); // the script is empty: cancelled
        QVERIFY(Module->Connected());
        QVERIFY(Presenter.Shown.isEmpty());
    }

    void WrongPasswordTwiceThenRight() {
        NewModule();
        Answer(QStringLiteral("rossz-1"));
        Answer(QStringLiteral("rossz-2"));
        Answer(Password());
        QVERIFY(Module->ConnectWithRetry(false));
        QVERIFY(Module->Connected());
        QCOMPARE(LoginPrompt.Asked, 3);
        QCOMPARE(Presenter.Shown.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(Presenter.Shown[i].Title, QStringLiteral("A bejelentkezés sikertelen."));
            QCOMPARE(Presenter.Shown[i].Message,
                     QStringLiteral("A bejelentkezés sikertelen, mert a felhasználó név vagy "
                                    "jelszó hibás. Még %1 próbálkozása maradt, utána a program "
                                    "kilép.")
                         .arg(2 - i));
        }
    }

    // The third failure raises; the application-wide handler shows it and
    // ends the application.
    void ThreeWrongPasswordsEndTheProgram() {
        NewModule();
        for (int i = 0; i < 3; ++i)
            Answer(QStringLiteral("rossz"));
        std::exception_ptr raised;
        try {
            Module->ConnectWithRetry(false);
            QFAIL("a third wrong password was accepted");
        } catch (const EAuthFailed& e) {
            QCOMPARE(e.Title(), QStringLiteral("A bejelentkezés sikertelen."));
            QVERIFY(e.Message().startsWith(
                QStringLiteral("A bejelentkezés háromszor sikertelen volt, az alkalmazás most "
                               "kilép.")));
            raised = std::current_exception();
        }
        QCOMPARE(Presenter.Shown.size(), 2); // no third box
        CheckLoggedOut();
        Module->HandleException(raised);
        QCOMPARE(Presenter.Shown.size(), 3);
        QVERIFY(Presenter.Shown.last().Message.startsWith(
            QStringLiteral("A bejelentkezés háromszor sikertelen volt")));
        QCOMPARE(Module->Terminated, 1);
    }

    // The gateway dies under a logged-in user: one message, logged out.
    void KilledGatewayGivesOneMessage() {
        TPrivateGateway gateway;
        QVERIFY(gateway.Start(Env));
        NewModule(gateway.Port());
        Answer(Password());
        QVERIFY(Module->ConnectWithRetry(false));
        QVERIFY(Module->Connected());
        gateway.Kill();
        QTRY_VERIFY_WITH_TIMEOUT(!Module->ActionDisconnect->isEnabled(), 15000);
        // Late reports of the other connections must not add messages.
        QTest::qWait(1500);
        QCOMPARE(Presenter.CountCaption(QStringLiteral("Megszakadt a kapcsolat.")), 1);
        QCOMPARE(Presenter.Shown.size(), 1);
        QCOMPARE(Presenter.Shown[0].Title,
                 QStringLiteral("Megszakadt a hálózati kapcsolat a szerverrel."));
        CheckLoggedOut();
    }

    // A network failure that reaches the handler: one orderly disconnect with
    // the network message; one raised while that disconnect runs is dropped.
    void NetworkErrorDuringDisconnectIsNotShown() {
        NewModule();
        Answer(Password());
        QVERIFY(Module->ConnectWithRetry(false));
        int inner = 0;
        Module->OnAfterDisconnect = [&] {
            ++inner;
            QVERIFY(Module->IsDisconnecting());
            Module->HandleException(
                std::make_exception_ptr(ESshSocketError(TSshClient::ReceiveFailedText)));
        };
        Module->HandleException(
            std::make_exception_ptr(ESshSocketError(TSshClient::SendFailedText)));
        QCOMPARE(inner, 1);
        QCOMPARE(Presenter.Shown.size(), 1);
        QCOMPARE(Presenter.Shown[0].Caption, QStringLiteral("Hálózati hiba történt"));
        CheckLoggedOut();
        // Not a network failure: shown, nothing disconnected, nothing ended.
        Module->HandleException(
            std::make_exception_ptr(ECustom(QStringLiteral("Cím"), QStringLiteral("Üzenet"))));
        QCOMPARE(Presenter.Shown.size(), 2);
        QCOMPARE(Module->Terminated, 0);
    }
};

QTEST_MAIN(TestMainDataModuleBase)
#include "tst_MainDataModuleBase.moc"
