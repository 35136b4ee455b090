// ctest-label: unit
#include "Common/Error/CustomException.h"
#include "Common/Error/ExceptionInfo.h"
#include "Platform/Db/OraError.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

namespace {

struct RecordingPresenter : IExceptionPresenter {
    QStringList shown;
    bool onMainThread = false;
    void Present(const std::exception& error, const QString& caption, const QString& titleFmt,
                 const QString& messageFmt) override {
        onMainThread = QThread::currentThread() == qApp->thread();
        shown << QStringList{ClassNameOf(typeid(error)), caption, titleFmt, messageFmt}.join('|');
    }
};

} // namespace

class TestExceptions : public QObject {
    Q_OBJECT
private slots:
    void createFmtFixesArticle() {
        const ECustom e = ECustom::CreateFmt("Cím", "A(z) %s nem található.", QString("ablak"));
        QCOMPARE(e.Message(), QString("Az ablak nem található."));
        QCOMPARE(e.Title(), QString("Cím"));
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, ECustom("Cím", ""));
        try {
            EUser::RaiseUserErrorFmt("T", "A(z) %s fut.", QString("kliens"));
        } catch (const EUser& u) {
            QCOMPARE(u.Message(), QString("A kliens fut."));
        }
    }

    void showException() {
        RecordingPresenter presenter;
        IExceptionPresenter* previous = SetExceptionPresenter(&presenter);
        ShowException(EAbort("csendes")); // never shown
        ECustom("Cím", "Üzenet").ShowException();
        ShowException(EConvertError("x"), "Felirat", "T %s", "M %s");
        QCOMPARE(presenter.shown,
                 QStringList({"ECustom|Hiba történt||", "EConvertError|Felirat|T %s|M %s"}));

        // From another thread the caller waits until the main thread has shown it.
        bool returned = false;
        std::unique_ptr<QThread> t(QThread::create([&] {
            ShowException(EInOutError("io"));
            returned = true;
        }));
        t->start();
        QTRY_VERIFY(returned);
        t->wait();
        QVERIFY(presenter.onMainThread);
        QCOMPARE(presenter.shown.size(), 3);
        SetExceptionPresenter(previous);
    }

    void classification_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("oracle");
        QTest::addColumn<bool>("ssh");
        QTest::newRow("lower-case ora")
            << "ora-03113: end-of-file on communication channel" << true << false;
        QTest::newRow("12571") << "ORA-12571: TNS:packet writer failure" << true << false;
        QTest::newRow("other ora") << "ORA-01017: invalid username/password" << false << false;
        QTest::newRow("ssh send") << "Cannot send data to server" << false << true;
        QTest::newRow("ssh recv") << "socket closed. cannot receive data" << false << true;
        QTest::newRow("plain") << "Valami más" << false << false;
    }
    void classification() {
        QFETCH(QString, text);
        QFETCH(bool, oracle);
        QFETCH(bool, ssh);
        QCOMPARE(IsOracleNetworkError(text), oracle);
        QCOMPARE(IsSSHNetworkError(text), ssh);
    }

    void serverErrorMessage() {
        QString tpl = "eredeti";
        QVERIFY(GetServerErrorMessage(EOraError(20001, "Nincs jogosultsága."), tpl));
        QCOMPARE(tpl, QString("Nincs jogosultsága."));
        tpl = "eredeti";
        QVERIFY(GetServerErrorMessage(EOraError(1017, "ORA-01017"), tpl));
        QCOMPARE(tpl, QString("eredeti"));
        tpl.clear();
        QVERIFY(!GetServerErrorMessage(EConvertError("x"), tpl));
    }

    void infoKinds() {
        TExceptionInfo info;
        QVERIFY(!info.IsValidError());
        QVERIFY(info.ToText().isEmpty());
        QVERIFY(info.Title().isEmpty() && info.GetTitleFmt("x %s").isEmpty());

        info.SetParams("", "T", "Üzenet");
        QCOMPARE(info.ErrorType(), TExceptionInfo::etNone);
        QVERIFY(info.ToText().isEmpty());

        info.SetParams("EAccessViolation", "Cím", "Hozzáférési hiba");
        QVERIFY(info.IsExternal());
        QVERIFY(info.Title().isEmpty() && info.Message().isEmpty());
        QCOMPARE(info.OrigTitle(), QString("Cím"));
        QCOMPARE(info.OrigMessage(), QString("Hozzáférési hiba"));

        const ECustom custom("Saját cím", "Saját üzenet");
        info.SetExceptObject(&custom);
        QVERIFY(info.IsExtendedException());
        QCOMPARE(info.Title(), QString("Saját cím"));
        QCOMPARE(info.Message(), QString("Saját üzenet"));

        const EConvertError native("Hibás szám");
        info.SetExceptObject(&native);
        QCOMPARE(info.ErrorType(), TExceptionInfo::etNative);
        QCOMPARE(info.Title(),
                 QString("Egy EConvertError típusú hiba történt a művelet végrehajtása közben."));
        QCOMPARE(info.Message(), QString("A művelet sajnos a Hibás szám hiba miatt megszakadt és "
                                         "nem sikerült. Javítsa ki a hibát, és próbálja újra."));
        QCOMPARE(info.GetMessageFmt("Vége: %s  \t"), QString("Vége: Hibás szám."));

        ECustom empty("T", "x");
        empty.SetMessage(QString());
        info.SetExceptObject(&empty);
        QCOMPARE(info.GetMessageFmt("Hiba: %s"), QString("Hiba: ECustom."));

        const EOraError server(20042, "A raktárkészlet nem elég");
        info.SetExceptObject(&server);
        QCOMPARE(info.GetMessageFmt(QString()), QString("A raktárkészlet nem elég."));
    }

    void properEnding_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("adds dot") << "Kész"
                                  << "Kész.";
        QTest::newRow("keeps dot") << "Kész."
                                   << "Kész.";
        QTest::newRow("trims first") << "Kész.  \r\n"
                                     << "Kész.";
        QTest::newRow("article") << "a(z) ablak"
                                 << "az ablak.";
    }
    void properEnding() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(TExceptionInfo::ProperMsgEnding(in), out);
    }

    void toText() {
        TExceptionInfo info;
        const EConvertError e("Hibás szám");
        info.SetExceptObject(&e);
        QStringList lines{"Hiba típus=régi"};
        info.ToText(lines);
        QCOMPARE(lines.size(), 8);
        QCOMPARE(lines[0], QString("Hiba típus=EConvertError")); // replaced, not added
        QCOMPARE(lines[1], QString("Hiba információk"));
        QVERIFY(
            lines[3].startsWith("Hiba időpontja=" + info.Time().toString("yyyy.MM.dd HH:mm:ss:")));
        QCOMPARE(lines[4], QString("Hiba üzenet=Hibás szám"));
        QCOMPARE(lines[5], QString(80, '-'));
        QCOMPARE(lines[6], QString("Hívási lánc"));

        const EConvertError noMessage("");
        info.SetExceptObject(&noMessage);
        const QString text = info.ToText();
        QVERIFY(!text.contains("Hiba üzenet"));
        QVERIFY(text.endsWith("Hívási lánc\r\n\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestExceptions)
#include "tst_Exceptions.moc"
