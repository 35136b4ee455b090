// ctest-label: gui
#include "Client/TarvolinStarter/Main/MainModule.h"
#include "Client/TarvolinStarter/Main/Ui/MainForm.h"
#include "Client/TarvolinStarter/Main/Ui/TarvolinStarterStartup.h"
#include "Common/Config/Config.h"
#include "Common/Environments/Environments.h"
#include "Common/Error/CustomException.h"
#include "Common/Error/Ui/ErrorPresenter.h"
#include "Common/Util/Ui/ProgressTasks.h"

#include <QApplication>
#include <QDir>
#include <QCheckBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

struct RecordingPresenter : IExceptionPresenter {
    QStringList captions, titles, messages;
    void Present(const std::exception& error, const QString& caption, const QString& titleFmt,
                 const QString& messageFmt) override {
        const auto [title, message] = TMessageBoxPresenter::Texts(error, titleFmt, messageFmt);
        captions << caption;
        titles << title;
        messages << message;
    }
};

class TBrokenModule : public QObject {
public:
    TBrokenModule() { throw std::runtime_error("modul hiba"); }
};

std::unique_ptr<TBrokenModule> BrokenModule;
std::unique_ptr<TMainForm> OtherForm;

// A start-up whose main module cannot be created.
class TFailingStartup : public TTarvolinStarterStartup {
public:
    QStringList log;

protected:
    TComponentClassRef GetMainModuleClass() const override {
        return MakeComponentClassRef<TBrokenModule>("TBrokenModule", BrokenModule);
    }
    void Finalize() override {
        log << "Finalize";
        TTarvolinStarterStartup::Finalize();
    }
};

// The real start-up, ended from the message loop, recording its task captions.
class TRecordingStartup : public TTarvolinStarterStartup {
public:
    QStringList captions;

protected:
    void AddStartupTasks(TDelayedSimpleProgressedTasks& tasks) override {
        TTarvolinStarterStartup::AddStartupTasks(tasks);
        for (auto e = tasks.GetEnumerator(); e.MoveNext();)
            captions << e.Current()->Caption();
    }
};

} // namespace

class TestStarterStartup : public QObject {
    Q_OBJECT
    QTemporaryDir FDir;

private slots:
    void initTestCase() {
        qputenv("XDG_DATA_HOME", FDir.filePath("data").toUtf8());
        ReloadConfiguration(FDir.filePath("none.xml"));
    }

    void runsAndEndsCleanly() {
        // A damaged environment file ends with exactly the built-in environment.
        const QString folder = PathHelper().GetPath(TPathHelper::piLocalAppData);
        QVERIFY(QDir().mkpath(folder));
        QFile damaged(folder + "Environments.xml");
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("<?xml version=\"1.0\"?><TEnvironments version=");
        damaged.close();

        TRecordingStartup startup;
        bool sawWindow = false;
        int environments = -1;
        QString title;
        // Ends the message loop once it runs (quit does nothing before that).
        QTimer ender;
        ender.setInterval(20);
        QObject::connect(&ender, &QTimer::timeout, [&] {
            if (MainForm && MainForm->isVisible()) {
                sawWindow = true;
                title = MainForm->windowTitle();
                environments = MainModule->Environments->Count();
            }
            QCoreApplication::quit();
        });
        ender.start();
        startup.RunApplication();
        ender.stop();
        QVERIFY(sawWindow);
        QCOMPARE(environments, 1);
        QCOMPARE(title, QString("Tarvolin - Indítópult"));
        QCOMPARE(startup.captions,
                 QStringList({"Form MainModule létrehozása.", "A csomagok betöltése.",
                              "A környezetek betöltése.", "A munkafázisok betöltése.",
                              "Form MainForm létrehozása."}));
        QVERIFY(!MainForm); // the tear-down frees and clears the references
        QVERIFY(!MainModule);
    }

    void fatalErrorWhileCreatingMainModule() {
        RecordingPresenter presenter;
        IExceptionPresenter* previous = SetExceptionPresenter(&presenter);
        TFailingStartup startup;
        startup.RunApplication();
        SetExceptionPresenter(previous);
        QCOMPARE(startup.log, QStringList({"Finalize"}));
        QCOMPARE(presenter.captions, QStringList({"Helyrehozhatatlan hiba"}));
        QCOMPARE(presenter.titles.value(0),
                 QString("Egy std::runtime_error típusú hiba történt a program futása során, az "
                         "alkalmazás ezért leáll."));
        QCOMPARE(presenter.messages.value(0),
                 QString("Az alkalmazás futása sajnos egy váratlan hiba miatt megszakadt, a "
                         "program ki fog lépni.\r\nA hibaüzenet a következő: modul hiba."));
        QVERIFY(!BrokenModule);
        QVERIFY(!MainForm);
    }

    void silentAbortIsNotShown() {
        RecordingPresenter presenter;
        IExceptionPresenter* previous = SetExceptionPresenter(&presenter);
        struct TAbortingStartup : TTarvolinStarterStartup {
            void Run() override { throw EAbort("csendes"); }
        } startup;
        startup.RunApplication();
        SetExceptionPresenter(previous);
        QVERIFY(presenter.titles.isEmpty());
        QVERIFY(!MainModule);
    }

    void programErrorUsesItsOwnTexts() {
        RecordingPresenter presenter;
        IExceptionPresenter* previous = SetExceptionPresenter(&presenter);
        struct TCustomFailure : TTarvolinStarterStartup {
            void Run() override { throw ECustom("Saját cím", "Saját üzenet."); }
        } startup;
        startup.RunApplication();
        SetExceptionPresenter(previous);
        QCOMPARE(presenter.captions, QStringList({"Hiba történt"}));
        QCOMPARE(presenter.titles, QStringList({"Saját cím"}));
        QCOMPARE(presenter.messages, QStringList({"Saját üzenet."}));
    }

    void statusAndSettings() {
        MainModule = std::make_unique<TMainModule>();
        MainForm = std::make_unique<TMainForm>();
        QVERIFY(MainForm->StatusText().startsWith("Nincsen belépve (Verzió: "));
        auto* box = MainForm->findChild<QCheckBox*>("AutoStartTarvolinCheckBox");
        QVERIFY(box && box->isChecked());
        box->setChecked(false);
        QVERIFY(!MainModule->AutoStartTarvolin());
        MainModule->SetAutoStartTarvolin(true);
        QVERIFY(box->isChecked());
        MainForm.reset();
        MainModule.reset();
    }
};

QTEST_MAIN(TestStarterStartup)
#include "tst_StarterStartup.moc"
