// ctest-label: gui
#include "Common/Util/Tasks.h"
#include "Common/Util/Ui/ProgressTasks.h"
#include "Platform/Runtime/Exception.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QThread>

namespace {

class TMainForm : public QWidget {};

class TSleepTask : public TTask {
public:
    using TTask::TTask;
    void Execute() override {}
};

} // namespace

class TestTasks : public QObject {
    Q_OBJECT
private slots:
    void runsInOrderAndAborts() {
        TTasks tasks;
        QStringList log;
        tasks.AddNew<TMethodTask>("a", [&] { log << "a"; });
        tasks.AddNew<TMethodTask>("b", [&] {
            log << "b";
            tasks.Abort(); // the running task finishes, no further task starts
            log << "b-end";
        });
        tasks.AddNew<TMethodTask>("c", [&] { log << "c"; });
        tasks.Abort(); // before Execute: no effect
        tasks.Execute();
        QCOMPARE(log, QStringList({"a", "b", "b-end"}));
        QVERIFY(!tasks.Running());
        QVERIFY(tasks.Current() == nullptr);
        log.clear();
        tasks.Execute(); // the abort mark is cleared by the next run
        QCOMPARE(log, QStringList({"a", "b", "b-end"}));
    }

    void breakOnError() {
        TTasks tasks;
        bool laterRan = false;
        bool runningInside = false;
        tasks.AddNew<TMethodTask>("fail", [&] {
            runningInside = tasks.Running();
            throw EConvertError("bad");
        });
        tasks.AddNew<TMethodTask>("later", [&] { laterRan = true; });
        QVERIFY_THROWS_EXCEPTION(EConvertError, tasks.Execute());
        QVERIFY(runningInside);
        QVERIFY(!laterRan);
        QVERIFY(!tasks.Running());

        // Off, on the main thread: the central handler sees it and the run goes on.
        int handled = 0;
        TTasks::SetCentralExceptionHandler([&] { ++handled; });
        tasks.SetBreakOnError(false);
        tasks.Execute();
        TTasks::SetCentralExceptionHandler(nullptr);
        QCOMPARE(handled, 1);
        QVERIFY(laterRan);
    }

    void breakOffOnOtherThreadReraises() {
        TTasks tasks;
        tasks.SetBreakOnError(false);
        tasks.AddNew<TMethodTask>("fail", [] { throw EConvertError("bad"); });
        bool raised = false;
        std::unique_ptr<QThread> thread(QThread::create([&] {
            try {
                tasks.Execute();
            } catch (const EConvertError&) {
                raised = true;
            }
        }));
        thread->start();
        QVERIFY(thread->wait(5000));
        QVERIFY(raised);
    }

    void assertions() {
        TTasks tasks;
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, tasks.Add(nullptr));
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, TMethodTask("x", nullptr));
        tasks.AddNew<TMethodTask>("add while running",
                                  [&] { tasks.Add(std::make_unique<TMethodTask>("late", [] {})); });
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, tasks.Execute());
    }

    void captions() {
        TSleepTask unnamed;
        QCOMPARE(unnamed.Caption(), QString("TSleepTask"));
        std::unique_ptr<TMainForm> ref;
        TCreateFormTask create(MakeComponentClassRef<TMainForm>("TMainForm", ref));
        QCOMPARE(create.Caption(), QString("Form MainForm létrehozása."));
        create.Execute();
        QVERIFY(ref != nullptr);
        QCOMPARE(ApplicationMainForm(), ref.get()); // the first form becomes the main window
        ref.reset();
        QVERIFY(ApplicationMainForm() == nullptr);
    }

    void barPositions() {
        TProgressedTasks tasks;
        QProgressBar bar;
        tasks.SetProgressBar(&bar);
        QList<int> seen;
        for (int i = 0; i < 3; ++i)
            tasks.AddNew<TMethodTask>("t", [&] { seen << bar.value(); });
        tasks.Execute();
        QCOMPARE(seen, QList<int>({0, 1, 2}));
        QCOMPARE(bar.value(), 3);
        QCOMPARE(bar.maximum(), 3);

        TProgressedTasks empty;
        empty.SetProgressBar(&bar);
        empty.Execute();
        QCOMPARE(bar.maximum(), 0);
    }

    void simpleWindowLifecycle() {
        QWidget other;
        other.show();
        TSimpleProgressedTasks tasks;
        tasks.SetCaption("Munka");
        QLabel* label = nullptr;
        bool closed = true;
        bool otherEnabled = true;
        tasks.AddNew<TMethodTask>("Első lépés", [&] {
            QWidget* form = tasks.Form();
            QVERIFY(form && form->isVisible());
            QCOMPARE(form->objectName(), QString("SimpleProgressForm"));
            QCOMPARE(form->windowTitle(), QString("Munka"));
            label = form->findChild<QLabel*>("TaskLabel");
            QVERIFY(label);
            QCOMPARE(label->text(), QString("Első lépés"));
            QVERIFY(form->findChild<QProgressBar*>("TaskProgressBar"));
            closed = form->close();
            otherEnabled = other.isEnabled();
        });
        tasks.Execute();
        QVERIFY(!closed); // the user cannot close it
        QVERIFY(!otherEnabled);
        QVERIFY(other.isEnabled());
        QVERIFY(tasks.Form() == nullptr);

        // A failing run frees the window and re-enables the others too.
        TSimpleProgressedTasks failing;
        failing.AddNew<TMethodTask>("x", [] { throw EConvertError("bad"); });
        QVERIFY_THROWS_EXCEPTION(EConvertError, failing.Execute());
        QVERIFY(other.isEnabled());
        QVERIFY(failing.Form() == nullptr);
    }

    void delayedWindow() {
        TDelayedSimpleProgressedTasks tasks;
        QCOMPARE(tasks.Delay(), 250);
        QList<bool> visible;
        auto record = [&] { visible << (tasks.Form() && tasks.Form()->isVisible()); };
        tasks.AddNew<TMethodTask>("1", record);
        tasks.AddNew<TMethodTask>("2", record);
        tasks.AddNew<TMethodTask>("3", [&] {
            record();
            QTest::qWait(320);
        });
        tasks.AddNew<TMethodTask>("4", record);
        tasks.Execute();
        QCOMPARE(visible, QList<bool>({false, false, false, true}));

        // A quick run never shows the window, however long its last task takes.
        TDelayedSimpleProgressedTasks quick;
        bool shown = true;
        quick.AddNew<TMethodTask>("only", [&] {
            QTest::qWait(300);
            shown = quick.Form()->isVisible();
        });
        quick.Execute();
        QVERIFY(!shown);
    }

    void startupSubProgress() {
        TStartupTasks tasks;
        QProgressBar* sub = nullptr;
        QLabel* subLabel = nullptr;
        TStartupTask* first = nullptr;
        first = tasks.AddNew<TStartupTask>(&tasks, "first", [&] {
            sub = tasks.Form()->findChild<QProgressBar*>("SubProgressBar");
            subLabel = tasks.Form()->findChild<QLabel*>("SubTaskLabel");
            QVERIFY(sub && subLabel);
            first->DoProgress("Letöltés", 0, 10, 4);
            QCOMPARE(sub->maximum(), 10);
            QCOMPARE(sub->value(), 4);
            QCOMPARE(subLabel->text(), QString("Letöltés"));
        });
        tasks.AddNew<TMethodTask>("second", [&] {
            // reset before every task
            QCOMPARE(sub->maximum(), 0);
            QCOMPARE(subLabel->text(), QString());
        });
        tasks.Execute();
        QVERIFY(sub != nullptr);
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, TStartupTask(nullptr, "x", [] {}));
    }

    void progressFormModal() {
        QWidget main;
        main.show();
        auto modal = TProgressForm::ShowProgress("Letöltés", "Fájl letöltése...", true, true);
        QCOMPARE(modal->windowTitle(), QString("Letöltés"));
        QCOMPARE(modal->Frame()->ProgressLabel->text(), QString("Fájl letöltése..."));
        QVERIFY(!main.isEnabled());
        QVERIFY(!modal->close());
        modal.reset();
        QVERIFY(main.isEnabled());

        auto modeless = TProgressForm::ShowProgress("Feltöltés", "x", false, true);
        QVERIFY(main.isEnabled());
        QVERIFY(modeless->close());
    }
};

QTEST_MAIN(TestTasks)
#include "tst_Tasks.moc"
