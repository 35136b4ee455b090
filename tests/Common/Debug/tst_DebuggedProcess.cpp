// ctest-label: unit
#include "Common/Debug/Debugger.h"
#include "FakeDebuggee.h"
#include "Support/RecordingPresenter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace DebugApi;

namespace {
constexpr uint32_t kPid = 100;
constexpr uint32_t kMain = 100;
constexpr uint64_t kBase = 0x400000;

} // namespace

class TestDebuggedProcess : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString FProgram;
    TRecordingPresenter FPresenter;
    IExceptionPresenter* FPreviousPresenter = nullptr;

private slots:
    void initTestCase() {
        qunsetenv("DISPLAY");
        QVERIFY(FDir.isValid());
        FProgram = FDir.filePath(QStringLiteral("Tarvolin"));
        QFile file(FProgram);
        QVERIFY(file.open(QIODevice::WriteOnly));
        FPreviousPresenter = SetExceptionPresenter(&FPresenter);
    }
    void cleanupTestCase() { SetExceptionPresenter(FPreviousPresenter); }
    void init() { FPresenter.FShown.clear(); }

    void eventsAreLoggedAndHandedToTheMainThread() {
        TFakeLayerScope layer;
        TFakeDebuggee& d = layer.Debuggee();
        const TScriptedThrow thrown = ScriptThrow(d, "hiba");
        d.SetMemory(0x9000, Words({0xA000}));
        d.SetMemory(0xA000, CString("/usr/lib/libdemo.so"));
        d.SetDebugString(1, QStringLiteral("Helló"));
        d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
        d.Append(TFakeDebuggee::CreateThread(kPid, 101, 0x7101));
        d.Append(TFakeDebuggee::LoadDll(kPid, kMain, 0x7f0000, 0x9000));
        d.Append(TFakeDebuggee::DebugString(kPid, kMain, 1, 6));
        d.Append(TFakeDebuggee::Exception(kPid, 101, LANGUAGE_EXCEPTION,
                                          {0, thrown.Object, thrown.TypeInfo}));
        d.Append(TFakeDebuggee::Rip(kPid, kMain, 5));
        d.Append(TFakeDebuggee::UnloadDll(kPid, kMain, 0x7f0000));
        d.Append(TFakeDebuggee::ExitThread(kPid, 101, 0));
        d.Append(TFakeDebuggee::ExitProcess(kPid, kMain, 0));

        TDebugger debugger;
        TDebuggedProcess* p = debugger.DebugProcess(FProgram, false);
        QCOMPARE(debugger.Count(), 1);
        QVERIFY(p->IsRunning()); // not started yet still counts as running
        QVERIFY(!debugger.IsActive());
        QStringList handled;
        const auto onMain = [&](const QString& what) {
            QVERIFY(QThread::currentThread() == QCoreApplication::instance()->thread());
            handled << what;
        };
        p->OnCreateProcess = [&](TDebuggedProcess* s, TDebugProcessInfo&) {
            QCOMPARE(s, p);
            onMain(QStringLiteral("process"));
        };
        p->OnException = [&](TDebuggedProcess*, TDebugExInfo& ex) {
            onMain(QStringLiteral("exception ") + ex.OrigClassName());
            // No display: the screenshot is empty.
            QVERIFY(ex.Image().isNull());
        };
        p->OnExitProcess = [&](TDebuggedProcess*, TDebugProcessInfo& info) {
            onMain(QStringLiteral("exit %1").arg(info.ExitCode()));
        };
        QTest::qWait(50);
        QCOMPARE(d.Continues().size(), 0); // suspended until started
        p->Start();
        p->Start(); // a second start does nothing
        QTRY_VERIFY_WITH_TIMEOUT(!p->IsRunning(), 10000);
        QCOMPARE(handled, QStringList({"process", "exception TDemoError", "exit 0"}));
        QCOMPARE(
            p->DebugLines(),
            QStringList({"Program 100 elindul", "Szál 100 elindul", "Szál 101 elindul",
                         "Modul /usr/lib/libdemo.so betöltve", "Debug üzenet: Helló", "Hiba: hiba",
                         "RIP: Rendszerhiba 5", "Modul /usr/lib/libdemo.so felszabadult",
                         "Szál 101 leáll", "Szál 100 leáll", "Program 100 leáll"}));
        QCOMPARE(p->Id(), 0u);
        QCOMPARE(p->ProcessInfo().Id(), kPid);
        QVERIFY(p->MainThread() == nullptr);
        QVERIFY(!debugger.IsActive());
        QVERIFY(FPresenter.FShown.isEmpty());
    }

    void activeWhileTheProgramRuns() {
        TFakeLayerScope layer;
        TFakeDebuggee& d = layer.Debuggee();
        d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
        TDebugger debugger;
        TDebuggedProcess* p = debugger.DebugProcess(FProgram, true);
        QVERIFY(d.WaitForContinues(1));
        QVERIFY(debugger.IsActive());
        QCOMPARE(p->Id(), kPid);
        QVERIFY(p->MainThread() != nullptr);
        QCOMPARE(p->MainThread()->Id(), kMain);
        // No display: no window, no screenshot.
        QCOMPARE(p->TopWindow(), TWindowHandle(0));
        QImage image(5, 5, QImage::Format_RGB32);
        QVERIFY(!p->TakeScreenShot(image));
        QVERIFY(image.isNull());
        p->SetForegroundWindow();
        p->Terminate();
        QTRY_VERIFY_WITH_TIMEOUT(!p->IsRunning(), 5000);
        QVERIFY(!debugger.IsActive());
        QCOMPARE(p->ProcessInfo().ExitCode(), 0u);
        auto enumerator = debugger.GetEnumerator();
        QVERIFY(enumerator->MoveNext());
        QCOMPARE(enumerator->Current(), p);
        QVERIFY(!enumerator->MoveNext());
    }

    void handlerErrorsAreShownAndTheLoopGoesOn() {
        TFakeLayerScope layer;
        TFakeDebuggee& d = layer.Debuggee();
        d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
        d.Append(TFakeDebuggee::CreateThread(kPid, 101, 0x7101));
        d.Append(TFakeDebuggee::ExitProcess(kPid, kMain, 0));
        TDebugger debugger;
        TDebuggedProcess* p = debugger.DebugProcess(FProgram, false);
        p->OnCreateThread = [](TDebuggedProcess*, TDebugThreadInfo& t) {
            if (t.Id() == 101)
                throw EConvertError(QStringLiteral("kezelő hiba"));
        };
        p->Start();
        QTRY_VERIFY_WITH_TIMEOUT(!p->IsRunning(), 5000);
        QCOMPARE(FPresenter.FShown, QStringList({"kezelő hiba"}));
        QCOMPARE(d.Continues().size(), 3);
    }

    void missingProgram() {
        TDebugger debugger;
        try {
            debugger.DebugProcess(FDir.filePath(QStringLiteral("Nincs")), true);
            QFAIL("no error");
        } catch (const TDebugger::EDebug& e) {
            QCOMPARE(e.Title(), QStringLiteral("A program nem található."));
            QVERIFY(e.Message().startsWith(QStringLiteral("A futtatandó program (\"")));
        }
        QCOMPARE(debugger.Count(), 0);
    }

    // The main thread destroys the debugger while a debug thread waits for
    // it to run a handler: neither may wait for the other.
    void destroyingWhileAHandOverWaits() {
        TFakeLayerScope layer;
        TFakeDebuggee& d = layer.Debuggee();
        d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
        auto debugger = std::make_unique<TDebugger>();
        TDebuggedProcess* p = debugger->DebugProcess(FProgram, false);
        int ran = 0;
        p->OnCreateProcess = [&](TDebuggedProcess*, TDebugProcessInfo&) { ++ran; };
        p->OnExitProcess = [&](TDebuggedProcess*, TDebugProcessInfo&) { ++ran; };
        p->Start();
        // Give the debug thread time to post its hand-over; the main thread
        // does not run its event loop meanwhile.
        QThread::msleep(100);
        QElapsedTimer timer;
        timer.start();
        debugger.reset();
        QVERIFY(timer.elapsed() < 5000);
        QVERIFY(d.TerminateCalled());
        // The dropped hand-over, still queued, does nothing any more.
        QCoreApplication::processEvents();
        QCOMPARE(ran, 0);
    }

    void destroyingRightAfterStart() {
        for (int i = 0; i < 20; ++i) {
            TFakeLayerScope layer;
            TFakeDebuggee& d = layer.Debuggee();
            d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
            auto debugger = std::make_unique<TDebugger>();
            debugger->DebugProcess(FProgram, true);
            debugger.reset();
            QCoreApplication::processEvents();
        }
    }

    void destroyingANeverStartedProgram() {
        TFakeLayerScope layer;
        auto debugger = std::make_unique<TDebugger>();
        debugger->DebugProcess(FProgram, false);
        debugger.reset();
        QVERIFY(layer.Debuggee().StartedFile().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDebuggedProcess)
#include "tst_DebuggedProcess.moc"
