// ctest-label: x11
// ctest-timeout: 180
// The demo client under the real debugger (ptrace, libdw, X11).
#include "Common/Debug/Debugger.h"
#include "Support/RecordingPresenter.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

namespace {

const QString kClient = QStringLiteral(TV_BINARY_DIR "/client/Tarvolin");

struct TReport {
    QString ClassName;
    QString Message;
    QStringList CallStack;
    QSize Image;
};

// What the handlers saw, on the main thread.
struct TRun {
    QList<TReport> Reports;
    QStringList Libraries;
    QStringList Unloaded;
    QStringList Texts;
    int Threads = 0;
    int ExitedThreads = 0;
    bool Created = false;
    bool Exited = false;
    uint32_t ExitCode = 0;
    uint32_t ProcessId = 0;
    QStringList Lines;
};

void Attach(TDebuggedProcess* p, TRun& run) {
    p->OnCreateProcess = [&run](TDebuggedProcess*, TDebugProcessInfo& info) {
        run.Created = true;
        run.ProcessId = info.Id();
    };
    p->OnCreateThread = [&run](TDebuggedProcess*, TDebugThreadInfo&) { ++run.Threads; };
    p->OnExitThread = [&run](TDebuggedProcess*, TDebugThreadInfo&) { ++run.ExitedThreads; };
    p->OnLoadDll = [&run](TDebuggedProcess*, TDebugLibraryInfo& l) {
        run.Libraries << l.FileName();
    };
    p->OnUnloadDll = [&run](TDebuggedProcess*, TDebugLibraryInfo& l) {
        run.Unloaded << l.FileName();
    };
    p->OnDebugString = [&run](TDebuggedProcess*, const QString& text) { run.Texts << text; };
    p->OnException = [&run](TDebuggedProcess*, TDebugExInfo& ex) {
        run.Reports.append(
            {ex.OrigClassName(), ex.OrigMessage(), ex.CallStack(), ex.Image().size()});
    };
    p->OnExitProcess = [&run](TDebuggedProcess*, TDebugProcessInfo& info) {
        run.Exited = true;
        run.ExitCode = info.ExitCode();
    };
}

// The source line of the throw in the demo client.
int ThrowLine() {
    QFile file(QStringLiteral(TV_SOURCE_DIR "/refenv/client/DemoScenarios.cpp"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].contains("throw TDemoError(message);"))
            return i + 1;
    return -1;
}

QString FirstResolved(const QStringList& stack) {
    for (const QString& line : stack)
        if (!line.endsWith(QLatin1String(": ismeretlen")))
            return line;
    return QString();
}

} // namespace

class TestDebuggerX11 : public QObject {
    Q_OBJECT

    TRecordingPresenter FPresenter;
    IExceptionPresenter* FPrevious = nullptr;

    void RunScenario(const char* scenario, TRun& run) {
        qputenv("TARVOLIN_DEMO_SCENARIO", scenario);
        TDebugger debugger;
        TDebuggedProcess* p = debugger.DebugProcess(kClient, false);
        Attach(p, run);
        p->Start();
        QTRY_VERIFY_WITH_TIMEOUT(!p->IsRunning(), 60000);
        run.Lines = p->DebugLines();
        QVERIFY(!debugger.IsActive());
    }

private slots:
    void initTestCase() {
        QVERIFY2(QFile::exists(kClient), "the demo client is built with the project");
        QVERIFY2(HasWindowSystem(), "an X display is needed");
        FPrevious = SetExceptionPresenter(&FPresenter);
    }
    void cleanupTestCase() { SetExceptionPresenter(FPrevious); }
    void init() { FPresenter.FShown.clear(); }
    void cleanup() { QCOMPARE(FPresenter.FShown, QStringList()); }

    void processThreadsModulesAndOutput() {
        TRun run;
        RunScenario("debug,threads,library,fork,quit", run);
        QVERIFY(run.Created);
        QVERIFY(run.Exited);
        QCOMPARE(run.ExitCode, 0u);
        QVERIFY(run.Threads >= 3); // the main thread and the two workers at least
        QVERIFY(run.ExitedThreads >= 3);
        const auto plugin = [](const QString& name) {
            return name.endsWith(QLatin1String("/libTarvolinPlugin.so"));
        };
        QCOMPARE(std::count_if(run.Libraries.cbegin(), run.Libraries.cend(), plugin), 1);
        QCOMPARE(std::count_if(run.Unloaded.cbegin(), run.Unloaded.cend(), plugin), 1);
        QVERIFY(run.Libraries.size() > 3); // Qt, the C++ runtime, libc, ...
        QVERIFY(run.Texts.contains(QStringLiteral("Tarvolin debug üzenet")));
        // A forked child is not supervised, and our breakpoints do not
        // follow it: it throws, loads a library and ends normally.
        QVERIFY(run.Texts.contains(QStringLiteral("Gyermek kilépett: 0")));
        QVERIFY(run.Reports.isEmpty());
        // The log of the run.
        const QString pid = QString::number(run.ProcessId);
        QCOMPARE(run.Lines.first(), QStringLiteral("Program %1 elindul").arg(pid));
        QCOMPARE(run.Lines.at(1), QStringLiteral("Szál %1 elindul").arg(pid));
        QCOMPARE(run.Lines.last(), QStringLiteral("Program %1 leáll").arg(pid));
        QVERIFY(run.Lines.contains(QStringLiteral("Debug üzenet: Tarvolin debug üzenet")));
        bool loaded = false;
        bool freed = false;
        for (const QString& line : run.Lines) {
            loaded |= line.startsWith(QLatin1String("Modul ")) &&
                      line.endsWith(QStringLiteral("libTarvolinPlugin.so betöltve"));
            freed |= line.startsWith(QLatin1String("Modul ")) &&
                     line.endsWith(QLatin1String("libTarvolinPlugin.so felszabadult"));
        }
        QVERIFY(loaded);
        QVERIFY(freed);
        QVERIFY(run.Lines.contains(QStringLiteral("Szál %1 leáll").arg(pid)));
    }

    void caughtExceptionReportedOnce() {
        TRun run;
        RunScenario("wait:700,caught,quit", run);
        QCOMPARE(run.Reports.size(), 1);
        const TReport& r = run.Reports.first();
        QCOMPARE(r.ClassName, QStringLiteral("TDemoError"));
        QCOMPARE(r.Message, QStringLiteral("Elkapott demó hiba"));
        QCOMPARE(
            FirstResolved(r.CallStack),
            QStringLiteral("%1: DemoScenarios.cpp (%2): ThrowDemoError(char const*)")
                .arg(r.CallStack.indexOf(FirstResolved(r.CallStack)) + 1, 2, 10, QLatin1Char('0'))
                .arg(ThrowLine()));
        QVERIFY(r.CallStack.first().startsWith(QLatin1String("01: ")));
        // The static function that called it resolves by its section.
        QVERIFY(
            r.CallStack.join(QLatin1Char('\n'))
                .contains(QLatin1String("(anonymous namespace)::RaiseFromStatic(char const*)")));
        QVERIFY(!r.Image.isEmpty());
        QVERIFY(run.Lines.contains(QStringLiteral("Hiba: Elkapott demó hiba")));
        QCOMPARE(run.ExitCode, 0u);
        QVERIFY(run.Texts.contains(QStringLiteral("Elkapva: Elkapott demó hiba")));
    }

    void uncaughtExceptionReportedTwiceThenExit() {
        TRun run;
        RunScenario("uncaught", run);
        QCOMPARE(run.Reports.size(), 2);
        for (const TReport& r : run.Reports) {
            QCOMPARE(r.ClassName, QStringLiteral("TDemoError"));
            QCOMPARE(r.Message, QStringLiteral("Kezeletlen demó hiba"));
        }
        QVERIFY(run.Exited);
        QVERIFY(run.ExitCode != 0);
    }

    void accessViolation() {
        TRun run;
        RunScenario("null", run);
        QCOMPARE(run.Reports.size(), 1);
        const TReport& r = run.Reports.first();
        QCOMPARE(r.ClassName, QStringLiteral("EAccessViolation"));
        QVERIFY2(r.Message.contains(QRegularExpression(QStringLiteral(
                     "^Access violation at address [0-9A-F]{8,} in module 'Tarvolin'\\. Read of "
                     "address 00000000$"))),
                 qPrintable(r.Message));
        QVERIFY(FirstResolved(r.CallStack).contains(QLatin1String("ReadThroughNull(int*)")));
        QVERIFY(run.Exited);
    }

    void divisionByZero() {
        TRun run;
        RunScenario("divzero", run);
        QCOMPARE(run.Reports.size(), 1);
        QCOMPARE(run.Reports.first().ClassName, QStringLiteral("EDivByZero"));
        QCOMPARE(run.Reports.first().Message, QStringLiteral("Division by zero"));
        QVERIFY(run.Exited);
    }

    void stackOverflow() {
        TRun run;
        RunScenario("stack", run);
        QCOMPARE(run.Reports.size(), 1);
        QCOMPARE(run.Reports.first().ClassName, QStringLiteral("EStackOverflow"));
        QCOMPARE(run.Reports.first().Message, QStringLiteral("Stack overflow"));
        QVERIFY(FirstResolved(run.Reports.first().CallStack)
                    .contains(QLatin1String("RecurseForever(int)")));
        QVERIFY(run.Exited);
    }

    void windowScreenshotAndTerminate() {
        qputenv("TARVOLIN_DEMO_SCENARIO", "");
        TDebugger debugger;
        TDebuggedProcess* p = debugger.DebugProcess(kClient, true);
        QTRY_VERIFY_WITH_TIMEOUT(p->TopWindow() != 0, 20000);
        QImage image;
        QTRY_VERIFY_WITH_TIMEOUT(p->TakeScreenShot(image), 5000);
        QVERIFY(image.width() > 100 && image.height() > 100);
        p->SetForegroundWindow();
        QVERIFY(debugger.IsActive());
        const uint32_t pid = p->Id();
        QVERIFY(pid != 0);
        p->Terminate();
        QTRY_VERIFY_WITH_TIMEOUT(!p->IsRunning(), 10000);
        QCOMPARE(p->ProcessInfo().ExitCode(), 0u);
        QCOMPARE(p->TopWindow(), TWindowHandle(0));
        QVERIFY(!p->TakeScreenShot(image));
        QVERIFY(image.isNull());
        QVERIFY(!QFile::exists(QStringLiteral("/proc/%1/status").arg(pid)));
    }

    // Two programs supervised at once, each by its own debug thread.
    void twoProgramsAtOnce() {
        qputenv("TARVOLIN_DEMO_SCENARIO", "wait:300,caught,threads,quit");
        TDebugger debugger;
        TRun first;
        TRun second;
        TDebuggedProcess* a = debugger.DebugProcess(kClient, false);
        TDebuggedProcess* b = debugger.DebugProcess(kClient, false);
        Attach(a, first);
        Attach(b, second);
        a->Start();
        b->Start();
        QTRY_VERIFY_WITH_TIMEOUT(!a->IsRunning() && !b->IsRunning(), 60000);
        for (const TRun* run : {&first, &second}) {
            QVERIFY(run->Exited);
            QCOMPARE(run->ExitCode, 0u);
            QCOMPARE(run->Reports.size(), 1);
            QCOMPARE(run->Reports.first().Message, QStringLiteral("Elkapott demó hiba"));
        }
        QVERIFY(first.ProcessId != second.ProcessId);
        QCOMPARE(debugger.Count(), 2);
    }

    // Destroying the debugger with a program running ends the program.
    void destroyingTheDebuggerEndsThePrograms() {
        qputenv("TARVOLIN_DEMO_SCENARIO", "");
        uint32_t pid = 0;
        {
            TDebugger debugger;
            TDebuggedProcess* p = debugger.DebugProcess(kClient, false);
            TRun run;
            Attach(p, run);
            p->Start();
            QTRY_VERIFY_WITH_TIMEOUT(run.Created, 20000);
            pid = p->Id();
        }
        QVERIFY(pid != 0);
        QVERIFY(!QFile::exists(QStringLiteral("/proc/%1/status").arg(pid)));
    }
};

QTEST_GUILESS_MAIN(TestDebuggerX11)
#include "tst_DebuggerX11.moc"
