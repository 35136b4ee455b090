// ctest-label: gui
#include "Common/Session/Ui/PasswordForms.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestPasswordForms : public QObject {
    Q_OBJECT

    // Runs the action against the next modal dialog once it is shown.
    template <class F> void WhenShown(F action) {
        QTimer::singleShot(0, [action] {
            QWidget* w = QApplication::activeModalWidget();
            QVERIFY(w);
            action(w);
        });
    }

private slots:
    void askOkRule_data() {
        QTest::addColumn<bool>("allowEmpty");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("empty not allowed") << false << "" << false;
        QTest::newRow("empty allowed") << true << "" << true;
        QTest::newRow("text") << false << "titok" << true;
    }
    void askOkRule() {
        QFETCH(bool, allowEmpty);
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        TAskPasswordForm form(allowEmpty);
        QCOMPARE(form.windowTitle(), QString("Jelszó megadása"));
        QCOMPARE(form.PasswordEdit->echoMode(), QLineEdit::Password);
        form.PasswordEdit->setText(text);
        QCOMPARE(form.OkButton->isEnabled(), enabled);
    }

    void newOkRule_data() {
        QTest::addColumn<bool>("allowEmpty");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("both empty") << false << ""
                                    << "" << false;
        QTest::newRow("both empty, allowed") << true << ""
                                             << "" << true;
        QTest::newRow("differ") << false << "abc"
                                << "abd" << false;
        QTest::newRow("same") << false << "abc"
                              << "abc" << true;
    }
    void newOkRule() {
        QFETCH(bool, allowEmpty);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, enabled);
        TNewPasswordForm form(allowEmpty);
        form.Password1Edit->setText(first);
        form.Password2Edit->setText(second);
        QCOMPARE(form.OkButton->isEnabled(), enabled);
        QCOMPARE(form.AllowEmptyLabel->text(), allowEmpty
                                                   ? QString("Üres jelszó megadása lehetséges.")
                                                   : QString("Az új jelszó nem lehet üres."));
    }

    void askForPasswordModal() {
        WhenShown([](QWidget* w) {
            QCOMPARE(w->windowTitle(), QString("Mesterjelszó"));
            w->findChild<QLineEdit*>("PasswordEdit")->setText("titok");
            w->findChild<QPushButton*>("OkButton")->click();
        });
        QString password;
        QVERIFY(TAskPasswordForm::AskForPassword(password, "Mesterjelszó", false));
        QCOMPARE(password, QString("titok"));

        WhenShown([](QWidget* w) {
            w->findChild<QLineEdit*>("PasswordEdit")->setText("félig");
            QTest::keyClick(w, Qt::Key_Escape);
        });
        QVERIFY(!TAskPasswordForm::AskForPassword(password, QString(), false));
        QCOMPARE(password, QString("félig")); // the text is handed back in both cases
    }

    void askForNewPasswordModal() {
        WhenShown([](QWidget* w) {
            QCOMPARE(w->windowTitle(), QString("Új jelszó létrehozása"));
            w->findChild<QLineEdit*>("Password1Edit")->setText("új");
            w->findChild<QLineEdit*>("Password2Edit")->setText("új");
            w->findChild<QPushButton*>("OkButton")->click();
        });
        QString password;
        QVERIFY(TNewPasswordForm::AskForNewPassword(password, QString(), false));
        QCOMPARE(password, QString("új"));
    }
};

QTEST_MAIN(TestPasswordForms)
#include "tst_PasswordForms.moc"
