// ctest-label: x11
// ctest-timeout: 120
// The ptrace layer on its own, with the demo client drawing offscreen.
#include "Platform/Debug/PtraceProcessControl.h"
#include "Platform/Runtime/Exception.h"

#include <QCoreApplication>
#include <QTest>

#include <csignal>
#include <functional>

using namespace DebugApi;

namespace {

const QString kClient = QStringLiteral(TV_BINARY_DIR "/client/Tarvolin");

struct TSeen {
    QList<uint32_t> Codes; // exception codes in order
    QStringList Texts;
    uint32_t ExitCode = 0;
    int Creates = 0;
};

// Runs the client to its end; the decision gives the continue status of
// every reported exception after the first breakpoint.
TSeen Run(const char* scenario, const std::function<uint32_t(uint32_t code)>& decide) {
    qputenv("TARVOLIN_DEMO_SCENARIO", scenario);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TSeen seen;
    TPtraceProcessControl control;
    control.CreateProcess(kClient);
    bool first = true;
    for (;;) {
        TDebugEvent e;
        control.WaitForDebugEvent(e);
        uint32_t status = DBG_CONTINUE;
        switch (e.DebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            ++seen.Creates;
            break;
        case EXCEPTION_DEBUG_EVENT:
            if (first && e.Exception.ExceptionCode == EXCEPTION_BREAKPOINT) {
                first = false;
                break;
            }
            seen.Codes.append(e.Exception.ExceptionCode);
            status = decide(e.Exception.ExceptionCode);
            break;
        case OUTPUT_DEBUG_STRING_EVENT:
            seen.Texts << control.ReadDebugString(e);
            break;
        default:
            break;
        }
        control.ContinueDebugEvent(e.ProcessId, e.ThreadId, status);
        if (e.DebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            seen.ExitCode = e.ExitCode;
            break;
        }
    }
    return seen;
}

uint32_t NotHandled(uint32_t) {
    return DBG_EXCEPTION_NOT_HANDLED;
}
uint32_t Handled(uint32_t) {
    return DBG_CONTINUE;
}

} // namespace

class TestPtraceProcessControl : public QObject {
    Q_OBJECT
private slots:
    void signalsBecomeExceptionCodes_data() {
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<uint>("code");
        QTest::addColumn<uint>("exitCode");
        QTest::newRow("interrupt") << QByteArray("signal:2") << 0xC000013Au << 130u;
        QTest::newRow("illegal instruction") << QByteArray("signal:4") << 0xC0000096u << 132u;
        QTest::newRow("breakpoint after the first")
            << QByteArray("signal:5") << 0x80000003u << 133u;
        QTest::newRow("any other signal keeps its number")
            << QByteArray("signal:15") << 15u << 143u;
    }
    // "Not handled" delivers the signal: the program dies of it.
    void signalsBecomeExceptionCodes() {
        QFETCH(QByteArray, scenario);
        QFETCH(uint, code);
        QFETCH(uint, exitCode);
        const TSeen seen = Run(scenario.constData(), NotHandled);
        QCOMPARE(seen.Creates, 1);
        QCOMPARE(seen.Codes, QList<uint32_t>({code}));
        QCOMPARE(seen.ExitCode, exitCode);
        QVERIFY(!seen.Texts.contains(QStringLiteral("Jelzés után")));
    }

    // "Continue" suppresses the signal: the program goes on.
    void continuedSignalIsSuppressed() {
        const TSeen seen = Run("signal:15,quit", Handled);
        QCOMPARE(seen.Codes, QList<uint32_t>({15u}));
        QVERIFY(seen.Texts.contains(QStringLiteral("Jelzés után")));
        QCOMPARE(seen.ExitCode, 0u);
    }

    // Signals of a program's normal life reach it unreported.
    void quietSignalsPassThrough() {
        const TSeen seen = Run("signal:17,signal:28,quit", NotHandled);
        QVERIFY(seen.Codes.isEmpty());
        QCOMPARE(seen.Texts.count(QStringLiteral("Jelzés után")), 2);
        QCOMPARE(seen.ExitCode, 0u);
    }

    void exitCodeOfANormalEnd() {
        const TSeen seen = Run("debug,quit", NotHandled);
        QVERIFY(seen.Codes.isEmpty());
        QVERIFY(seen.Texts.contains(QStringLiteral("Tarvolin debug üzenet")));
        QCOMPARE(seen.ExitCode, 0u);
    }

    void missingProgramCannotBeStarted() {
        TPtraceProcessControl control;
        QVERIFY_THROWS_EXCEPTION(EOSError,
                                 control.CreateProcess(QStringLiteral("/nonexistent/Tarvolin")));
    }

    void elfSymbols() {
        QVERIFY(FindElfSymbol(kClient, "main") != 0);
        QCOMPARE(FindElfSymbol(kClient, "NoSuchSymbolAnywhere"), uint64_t(0));
        QCOMPARE(FindElfSymbol(QStringLiteral("/nonexistent"), "main"), uint64_t(0));
    }
};

QTEST_GUILESS_MAIN(TestPtraceProcessControl)
#include "tst_PtraceProcessControl.moc"
