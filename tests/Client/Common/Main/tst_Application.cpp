// ctest-label: gui
#include "Client/Common/Main/Ui/Application.h"
#include "Common/Error/CustomException.h"
#include "Platform/SSH/SshClient.h"

#include <QEvent>
#include <QTest>

namespace {

class TRecordingPresenter : public IExceptionPresenter {
public:
    void Present(const std::exception&, const QString& caption, const QString&,
                 const QString&) override {
        Captions.append(caption);
    }
    void PresentMessage(const QString& caption, const QString&, const QString&) override {
        Captions.append(caption);
    }
    QStringList Captions;
};

// Its event handler raises whatever it is given.
class TThrower : public QObject {
public:
    std::function<void()> Raise;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User && Raise)
            Raise();
        return QObject::event(e);
    }
};

} // namespace

class TestApplication : public QObject {
    Q_OBJECT

private:
    TRecordingPresenter Presenter;

private slots:
    void initTestCase() { SetExceptionPresenter(&Presenter); }
    void cleanupTestCase() { SetExceptionPresenter(nullptr); }
    void init() { Presenter.Captions.clear(); }

    void InstallsTheLoginDialog() {
        ILoginPrompt* prompt = TMainDataModuleBase::SetLoginPrompt(nullptr);
        QVERIFY(dynamic_cast<TLoginFormPrompt*>(prompt) != nullptr);
        TMainDataModuleBase::SetLoginPrompt(prompt);
    }

    // Without a main module the exception is shown.
    void EscapingExceptionIsShown() {
        TThrower thrower;
        thrower.Raise = [] { throw ECustom(QStringLiteral("Cím"), QStringLiteral("Üzenet")); };
        QEvent event(QEvent::User);
        QVERIFY(QCoreApplication::sendEvent(&thrower, &event));
        QCOMPARE(Presenter.Captions, QStringList{QStringLiteral("Hiba történt")});
    }

    // With one, a network failure from a posted event becomes its disconnect.
    void NetworkFailureReachesTheModule() {
        TMainDataModuleBase module;
        TThrower thrower;
        thrower.Raise = [] { throw ESshSocketError(TSshClient::SendFailedText); };
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QTRY_COMPARE(Presenter.Captions.size(), 1);
        QCOMPARE(Presenter.Captions[0], QStringLiteral("Hálózati hiba történt"));
        QVERIFY(module.ActionConnect->isEnabled());
    }
};

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_Application.moc"
