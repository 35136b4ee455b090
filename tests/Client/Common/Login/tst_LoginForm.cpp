// ctest-label: gui
#include "Client/Common/Login/Ui/LoginForm.h"
#include "Common/Environments/Environments.h"
#include "Common/Images/Ui/ImagesModule.h"
#include "Common/Session/Sessions.h"
#include "Common/Util/Ui/LabeledComboBox.h"
#include "Support/TempAppData.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolButton>

class TestLoginForm : public QObject {
    Q_OBJECT

    std::unique_ptr<TTempAppData> FAppData;
    std::unique_ptr<TEnvironments> FEnvironments;
    std::unique_ptr<TSessions> FSessions;

    TEnvironment* AddEnvironment(const QString& id, const QString& description) {
        auto* env = TItem::Create<TEnvironment>(FEnvironments.get());
        env->SetId(id);
        env->SetDescription(description);
        return env;
    }

private slots:
    void initTestCase() {
        FAppData = std::make_unique<TTempAppData>();
        ImagesModule = std::make_unique<TImagesModule>();
        FEnvironments = TItem::Create<TEnvironments>();
        FEnvironments->SetAutoSave(false);
        AddEnvironment("Prod", "Éles");
        AddEnvironment("Test", "Teszt");
        FSessions = TItem::Create<TSessions>();
        FSessions->SetAutoSave(false);
        FSessions->ActivateSession("Prod", "kovacs", "p1");
        FSessions->ActivateSession("Test", "kovacs", "t1");
        FSessions->ActivateSession("Test", "nagy", "");
    }
    void cleanupTestCase() {
        FSessions.reset();
        FEnvironments.reset();
        ImagesModule.reset();
        FAppData.reset();
    }

    void fillingAndSwitching() {
        TLoginForm form;
        QCOMPARE(form.windowTitle(), QString("Bejelentkezés"));
        QVERIFY(!form.MainImage->pixmap().isNull());
        form.Fill("", "", FSessions->Sessions(), FEnvironments->Environments(), "Unknown");
        // An unknown environment name selects the first environment.
        QCOMPARE(form.Environment()->Id(), QString("Prod"));
        QCOMPARE(form.UserNameList->count(), 1);
        QCOMPARE(form.UserNameList->itemText(0), QString("kovacs"));

        form.EnvironmentsList->setCurrentIndex(1);
        form.EnvironmentsListClick();
        QCOMPARE(form.UserNameList->count(), 2);
        QCOMPARE(form.UserNameList->currentText(), QString("kovacs"));
        QCOMPARE(form.PasswordEdit->text(), QString("t1")); // the in-memory password
        QVERIFY(form.LoginButton->isEnabled());

        // A remembered user without a password: the button stays disabled.
        form.UserNameList->setCurrentIndex(1);
        form.UserNameListClick();
        QCOMPARE(form.PasswordEdit->text(), QString());
        QVERIFY(!form.LoginButton->isEnabled());
    }

    void focus_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("focused");
        QTest::newRow("no user") << ""
                                 << ""
                                 << "UserNameList";
        QTest::newRow("no password") << "kovacs"
                                     << ""
                                     << "PasswordEdit";
        QTest::newRow("complete") << "kovacs"
                                  << "p1"
                                  << "LoginButton";
    }
    void focus() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, focused);
        TLoginForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.Fill(user, password, FSessions->Sessions(), FEnvironments->Environments(), "Prod");
        QWidget* f = QApplication::focusWidget();
        QVERIFY(f);
        // An editable combo box's line edit has the focus on its behalf.
        while (f && f->objectName().isEmpty())
            f = f->parentWidget();
        QCOMPARE(f->objectName(), focused);
        QCOMPARE(form.LoginButton->isEnabled(), focused == "LoginButton");
    }

    void noEnvironmentFocusesTheList() {
        TLoginForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.Fill("kovacs", "x", {}, {}, "Prod");
        QVERIFY(form.Environment() == nullptr);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form.EnvironmentsList));
        QVERIFY(!form.LoginButton->isEnabled());
    }

    void loginAnswers() {
        QString user = "kovacs";
        QString password = "p1";
        QString env = "Prod";
        QTimer::singleShot(0, [] {
            auto* form = qobject_cast<TLoginForm*>(QApplication::activeModalWidget());
            QVERIFY(form);
            form->EnvironmentsList->setCurrentIndex(1);
            form->EnvironmentsListClick();
            form->LoginButton->click();
        });
        QVERIFY(TLoginForm::Login(user, password, FSessions->Sessions(),
                                  FEnvironments->Environments(), env));
        QCOMPARE(env, QString("Test"));
        QCOMPARE(user, QString("kovacs"));
        QCOMPARE(password, QString("t1"));

        // Escape: false, and the caller's values stay.
        QTimer::singleShot(0, [] {
            auto* form = qobject_cast<TLoginForm*>(QApplication::activeModalWidget());
            QVERIFY(form);
            form->PasswordEdit->setText("other");
            QTest::keyClick(form, Qt::Key_Escape);
        });
        QVERIFY(!TLoginForm::Login(user, password, FSessions->Sessions(),
                                   FEnvironments->Environments(), env));
        QCOMPARE(password, QString("t1"));
        QCOMPARE(env, QString("Test"));
    }

    void supportAndMenu() {
        TLoginForm form;
        const QString text = form.SupportLabel->text();
        QVERIFY(text.startsWith("Probléma, kérdés esetén hívja ügyfélszolgálatunkat a <b>"));
        QVERIFY(text.contains("</b> vagy <b>"));
        QVERIFY(text.endsWith(" címre."));
        QCOMPARE(form.LoginPopupMenu->actions().value(0)->text(),
                 QString("Rendszer információk..."));
    }
};

QTEST_MAIN(TestLoginForm)
#include "tst_LoginForm.moc"
