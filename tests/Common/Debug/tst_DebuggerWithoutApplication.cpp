// ctest-label: unit
// The debugger is destroyed with the program's other process-wide objects,
// possibly after the application object: events then run on the debug
// thread, and none runs once the debugger is going away.
#include "Common/Debug/Debugger.h"
#include "FakeDebuggee.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

class TestDebuggerWithoutApplication : public QObject {
    Q_OBJECT
private slots:
    void eventsRunOnTheDebugThreadUntilDestruction() {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("Tarvolin"));
        QFile file(program);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        TFakeLayerScope layer;
        layer.Debuggee().Append(TFakeDebuggee::CreateProcess(100, 100, 0x400000));
        std::atomic<int> created{0};
        std::atomic<int> exited{0};
        auto debugger = std::make_unique<TDebugger>();
        TDebuggedProcess* p = debugger->DebugProcess(program, false);
        p->OnCreateProcess = [&](TDebuggedProcess*, TDebugProcessInfo&) { ++created; };
        p->OnExitProcess = [&](TDebuggedProcess*, TDebugProcessInfo&) { ++exited; };
        p->Start();
        QVERIFY(layer.Debuggee().WaitForContinues(1));
        QCOMPARE(created.load(), 1);
        debugger.reset();
        QCOMPARE(exited.load(), 0);
        QVERIFY(layer.Debuggee().TerminateCalled());
    }
};

QTEST_APPLESS_MAIN(TestDebuggerWithoutApplication)
#include "tst_DebuggerWithoutApplication.moc"
