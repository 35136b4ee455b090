// ctest-label: unit
#include "Common/Debug/DebugExInfo.h"
#include "Common/Debug/DebugThread.h"
#include "FakeDebuggee.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace DebugApi;

namespace {
constexpr uint32_t kPid = 100;
constexpr uint32_t kMain = 100;
constexpr uint64_t kBase = 0x400000;
} // namespace

class TestDebugThread : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString FProgram;

    // Runs one debug thread over the script to its end.
    void RunToEnd(TDebugThread& thread) {
        thread.start();
        QVERIFY(thread.wait(10000));
    }
    static QList<uint32_t> Statuses(const TFakeDebuggee& debuggee) {
        QList<uint32_t> result;
        for (const TFakeContinue& c : debuggee.Continues())
            result.append(c.Status);
        return result;
    }

private slots:
    void initTestCase() {
        QVERIFY(FDir.isValid());
        FProgram = FDir.filePath(QStringLiteral("Tarvolin"));
        QFile file(FProgram);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("program");
    }

    // ---- the continue decision

    void continueDecision_data() {
        QTest::addColumn<QList<uint>>("codes");
        QTest::addColumn<QList<uint>>("statuses");
        QTest::addColumn<int>("reports");
        const uint C = DBG_CONTINUE;
        const uint N = DBG_EXCEPTION_NOT_HANDLED;
        QTest::newRow("first breakpoint continued, later ones passed back")
            << QList<uint>{EXCEPTION_BREAKPOINT, EXCEPTION_BREAKPOINT, EXCEPTION_BREAKPOINT}
            << QList<uint>{C, N, N} << 0;
        QTest::newRow("runtime notifications continued silently")
            << QList<uint>{0x0EEDFADF, 0x0EEDFAE2, 0x0EEDFAE5} << QList<uint>{C, C, C} << 0;
        QTest::newRow("language exception reported")
            << QList<uint>{LANGUAGE_EXCEPTION} << QList<uint>{N} << 1;
        QTest::newRow("codes next to the notification range are reported")
            << QList<uint>{0x0EEDFAE6, 0x0EEDFADD} << QList<uint>{N, N} << 2;
        QTest::newRow("system exceptions reported")
            << QList<uint>{EXCEPTION_ACCESS_VIOLATION, EXCEPTION_INT_DIVIDE_BY_ZERO, 6}
            << QList<uint>{N, N, N} << 3;
    }
    void continueDecision() {
        QFETCH(QList<uint>, codes);
        QFETCH(QList<uint>, statuses);
        QFETCH(int, reports);
        TFakeLayerScope layer;
        TFakeDebuggee& d = layer.Debuggee();
        const TScriptedThrow thrown = ScriptThrow(d, "hiba");
        d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
        for (uint code : codes)
            d.Append(TFakeDebuggee::Exception(kPid, kMain, code,
                                              {0, thrown.Object, thrown.TypeInfo}, 0x401000));
        d.Append(TFakeDebuggee::ExitProcess(kPid, kMain, 0));

        TDebugThread thread(FProgram);
        QList<uint32_t> reported;
        thread.OnDebugException = [&](TDebugThread*, TDebugExInfo& ex) {
            reported.append(ex.ErrorCode());
        };
        thread.OnShowError = [](const std::exception& e) { qWarning("%s", e.what()); };
        RunToEnd(thread);
        QList<uint32_t> expected{DBG_CONTINUE};
        for (uint s : statuses)
            expected.append(s);
        expected.append(DBG_CONTINUE);
        QCOMPARE(Statuses(d), expected);
        QCOMPARE(reported.size(), reports);
    }

    void exceptionsAreNotReadWithoutListener() {
        TFakeLayerScope layer;
        TFakeDebuggee& d = layer.Debuggee();
        d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
        d.Append(TFakeDebuggee::Exception(kPid, kMain, LANGUAGE_EXCEPTION, {0, 0, 0}));
        d.Append(TFakeDebuggee::ExitProcess(kPid, kMain, 0));
        TDebugThread thread(FProgram);
        int errors = 0;
        thread.OnShowError = [&](const std::exception&) { ++errors; };
        RunToEnd(thread);
        QCOMPARE(errors, 0);
        QCOMPARE(d.SymInitializeCalls(), 0);
        QCOMPARE(Statuses(d).at(1), DBG_EXCEPTION_NOT_HANDLED);
    }

    // ---- the records and tables

    void processThreadAndModuleRecords() {
        TFakeLayerScope layer;
        TFakeDebuggee& d = layer.Debuggee();
        d.SetMemory(0x9000, Words({0xA000, 0}));             // name pointers
        d.SetMemory(0xA000, CString("/usr/lib/libdemo.so")); // name
        d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
        d.Append(TFakeDebuggee::CreateThread(kPid, 101, 0x7101));
        d.Append(TFakeDebuggee::LoadDll(kPid, kMain, 0x7f0000, 0x9000));
        d.Append(TFakeDebuggee::LoadDll(kPid, kMain, 0x7f0000, 0x9000)); // same base again
        d.Append(TFakeDebuggee::LoadDll(kPid, kMain, 0x7e0000, 0));      // no name address
        d.Append(TFakeDebuggee::LoadDll(kPid, kMain, 0x7d0000, 0x9008)); // null name pointer
        d.Append(TFakeDebuggee::UnloadDll(kPid, kMain, 0x123000));       // unknown base
        d.Append(TFakeDebuggee::ExitThread(kPid, 101, 7));
        d.Append(TFakeDebuggee::UnloadDll(kPid, kMain, 0x7f0000));
        d.Append(TFakeDebuggee::ExitProcess(kPid, kMain, 3));

        TDebugThread thread(FProgram);
        QStringList log;
        thread.OnCreateProcess = [&](TDebugThread* sender, TDebugProcessInfo& p) {
            QCOMPARE(sender, &thread);
            QVERIFY(p.Active());
            QCOMPARE(p.Id(), kPid);
            QCOMPARE(p.Base(), kBase);
            QCOMPARE(p.MainThreadId(), kMain);
            QCOMPARE(p.ExitCode(), TDebugProcessInfo::NoExitCode);
            // The initial thread is registered after this event.
            QCOMPARE(thread.Threads().size(), size_t(0));
            log << QStringLiteral("process");
        };
        thread.OnCreateThread = [&](TDebugThread*, TDebugThreadInfo& t) {
            QVERIFY(t.Active());
            QCOMPARE(t.ProcessHandle(), uint64_t(kPid));
            log << QStringLiteral("thread %1").arg(t.Id());
        };
        thread.OnExitThread = [&](TDebugThread*, TDebugThreadInfo& t) {
            QVERIFY(!t.Active());
            QCOMPARE(t.ThreadHandle(), uint64_t(0));
            QCOMPARE(t.Base(), uint64_t(0));
            // Still in the table while its event is delivered.
            QVERIFY(thread.Threads().count(t.Id()) == 1);
            log << QStringLiteral("exit thread %1 %2").arg(t.Id()).arg(t.ExitCode());
        };
        thread.OnLoadDll = [&](TDebugThread*, TDebugLibraryInfo& l) {
            QVERIFY(l.Loaded());
            log << QStringLiteral("load %1 %2").arg(l.FileName()).arg(l.Base(), 0, 16);
        };
        thread.OnUnloadDll = [&](TDebugThread*, TDebugLibraryInfo& l) {
            QVERIFY(!l.Loaded());
            log << QStringLiteral("unload %1").arg(l.FileName());
        };
        thread.OnExitProcess = [&](TDebugThread*, TDebugProcessInfo& p) {
            QVERIFY(!p.Active());
            log << QStringLiteral("exit process %1").arg(p.ExitCode());
        };
        thread.OnShowError = [&](const std::exception& e) { log << QString::fromUtf8(e.what()); };
        QVERIFY(!thread.Process().Active());
        RunToEnd(thread);

        QCOMPARE(log, QStringList({"process", "thread 100", "thread 101",
                                   "load /usr/lib/libdemo.so 7f0000", "exit thread 101 7",
                                   "unload /usr/lib/libdemo.so", "exit thread 100 3",
                                   "exit process 3"}));
        const TDebugProcessInfo& p = thread.Process();
        QVERIFY(!p.Active());
        QCOMPARE(p.ExitCode(), 3u);
        QCOMPARE(p.Id(), kPid);
        QCOMPARE(p.MainThreadId(), kMain);
        QCOMPARE(p.Handle(), uint64_t(0));
        QCOMPARE(p.Base(), uint64_t(0));
        QVERIFY(thread.Threads().empty());
        QVERIFY(thread.Libraries().empty());
        QCOMPARE(d.StartedFile(), FProgram);
        QCOMPARE(d.Continues().size(), 10);
    }

    void debugOutputReadOnlyWhenListened() {
        for (const bool listen : {false, true}) {
            TFakeLayerScope layer;
            TFakeDebuggee& d = layer.Debuggee();
            d.SetDebugString(1, QStringLiteral("Helló"));
            d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
            d.Append(TFakeDebuggee::DebugString(kPid, kMain, 1, 6));
            d.Append(TFakeDebuggee::Rip(kPid, kMain, 5));
            d.Append(TFakeDebuggee::ExitProcess(kPid, kMain, 0));
            TDebugThread thread(FProgram);
            QStringList texts;
            if (listen) {
                thread.OnDebugString = [&](TDebugThread*, const QString& m) { texts << m; };
                thread.OnRIP = [&](TDebugThread*, uint32_t code, const QString& m) {
                    texts << QStringLiteral("%1 %2").arg(code).arg(m);
                };
            }
            RunToEnd(thread);
            QCOMPARE(d.DebugStringReads(), listen ? 1 : 0);
            QCOMPARE(texts, listen ? QStringList({"Helló", "5 Rendszerhiba 5"}) : QStringList());
        }
    }

    // ---- failures

    void failingListenerIsShownAndEventContinued() {
        TFakeLayerScope layer;
        TFakeDebuggee& d = layer.Debuggee();
        d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
        d.Append(TFakeDebuggee::CreateThread(kPid, 101, 0x7101));
        d.Append(TFakeDebuggee::Exception(kPid, kMain, EXCEPTION_ACCESS_VIOLATION, {0, 0}));
        d.Append(TFakeDebuggee::ExitProcess(kPid, kMain, 0));
        TDebugThread thread(FProgram);
        QStringList shown;
        thread.OnShowError = [&](const std::exception& e) { shown << QString::fromUtf8(e.what()); };
        thread.OnCreateThread = [](TDebugThread*, TDebugThreadInfo& t) {
            if (t.Id() == 101)
                throw EConvertError(QStringLiteral("szál hiba"));
        };
        thread.OnDebugException = [](TDebugThread*, TDebugExInfo&) {
            throw EConvertError(QStringLiteral("jegy hiba"));
        };
        RunToEnd(thread);
        QCOMPARE(shown, QStringList({"szál hiba", "jegy hiba"}));
        // The thread is registered even though its listener failed.
        const QList<TFakeContinue> continues = d.Continues();
        QCOMPARE(continues.size(), 4);
        QCOMPARE(continues[1].Status, DBG_CONTINUE);
        // A fault whose report failed is still passed to the program: a
        // fault continued as handled would only be raised again.
        QCOMPARE(continues[2].Status, DBG_EXCEPTION_NOT_HANDLED);
    }

    void eventForUnknownThreadIsShown() {
        TFakeLayerScope layer;
        TFakeDebuggee& d = layer.Debuggee();
        d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
        d.Append(TFakeDebuggee::ExitThread(kPid, 555, 0));
        d.Append(TFakeDebuggee::ExitProcess(kPid, kMain, 0));
        TDebugThread thread(FProgram);
        QStringList shown;
        thread.OnShowError = [&](const std::exception& e) { shown << QString::fromUtf8(e.what()); };
        RunToEnd(thread);
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown.first().startsWith(QStringLiteral("Assertion failed")));
        QCOMPARE(d.Continues().size(), 3);
        QCOMPARE(d.Continues()[1].Status, DBG_CONTINUE);
    }

    void processThatCannotBeCreated() {
        TFakeLayerScope layer;
        layer.Debuggee().FFailCreate = true;
        TDebugThread thread(FProgram);
        QStringList shown;
        int events = 0;
        thread.OnShowError = [&](const std::exception& e) { shown << QString::fromUtf8(e.what()); };
        thread.OnCreateProcess = [&](TDebugThread*, TDebugProcessInfo&) { ++events; };
        RunToEnd(thread);
        QCOMPARE(shown, QStringList({"A program nem indítható."}));
        QCOMPARE(events, 0);
        QVERIFY(!thread.Process().Active());
        QCOMPARE(thread.Process().ExitCode(), TDebugProcessInfo::NoExitCode);
        QVERIFY(!thread.FatalException());
    }

    void missingProgramFile() {
        try {
            TDebugThread thread(FDir.filePath(QStringLiteral("Nincs")));
            QFAIL("no error");
        } catch (const TDebugThread::EDebugThread& e) {
            QCOMPARE(e.Title(), QStringLiteral("A program nem található."));
            QCOMPARE(
                e.Message(),
                QStringLiteral("A futtatandó program (\"%1\") nem található.\r\nEllenőrizze az "
                               "elérési útvonalat, vagy kérjen segítséget az üzemeltetéstől.")
                    .arg(FDir.filePath(QStringLiteral("Nincs"))));
            QCOMPARE(e.ClassName(), QStringLiteral("TDebugThread.EDebugThread"));
        }
    }

    // ---- the symbol engine follows the program

    void symbolEngineLifecycle() {
        TFakeLayerScope layer;
        TFakeDebuggee& d = layer.Debuggee();
        d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
        d.Append(TFakeDebuggee::Exception(kPid, kMain, 6));
        d.Append(TFakeDebuggee::Exception(kPid, kMain, 6));
        d.Append(TFakeDebuggee::Exception(kPid, kMain, 6));
        d.Append(TFakeDebuggee::ExitProcess(kPid, kMain, 0));
        TDebugThread thread(FProgram);
        thread.OnDebugException = [](TDebugThread*, TDebugExInfo&) {};
        RunToEnd(thread);
        QCOMPARE(d.SymInitializeCalls(), 1);
        QCOMPARE(d.SymRefreshCalls(), 2);
        QCOMPARE(d.SymCleanupCalls(), 1);
    }

    void terminateAfterExitDoesNothing() {
        TFakeLayerScope layer;
        TFakeDebuggee& d = layer.Debuggee();
        d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
        d.Append(TFakeDebuggee::ExitProcess(kPid, kMain, 0));
        TDebugThread thread(FProgram);
        RunToEnd(thread);
        thread.TerminateProcess();
        QVERIFY(!d.TerminateCalled());
    }

    void terminateEndsRunningProgram() {
        TFakeLayerScope layer;
        TFakeDebuggee& d = layer.Debuggee();
        d.Append(TFakeDebuggee::CreateProcess(kPid, kMain, kBase));
        TDebugThread thread(FProgram);
        uint32_t exitCode = 99;
        thread.OnExitProcess = [&](TDebugThread*, TDebugProcessInfo& p) {
            exitCode = p.ExitCode();
        };
        thread.start();
        QVERIFY(d.WaitForContinues(1));
        QVERIFY(thread.Process().Active());
        thread.TerminateProcess();
        QVERIFY(thread.wait(5000));
        QCOMPARE(exitCode, 0u);
        QVERIFY(!thread.Process().Active());
    }
};

QTEST_GUILESS_MAIN(TestDebugThread)
#include "tst_DebugThread.moc"
