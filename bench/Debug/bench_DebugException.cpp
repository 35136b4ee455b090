// Cost of supervising a throw-heavy client: the demo client throws and
// catches N C++ exceptions, run once on its own and once under the debugger.
// Prints the wall times, their ratio, the cost of one reported exception and
// how it divides into stop, memory reads, unwind, map lookup and screenshot.
//
//   bench_DebugException [N]      (default 1000; needs the demo client built)
#include "Common/Debug/DebugThread.h"
#include "Common/Debug/Debugger.h"
#include "Platform/Debug/X11Windows.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <cstdio>

namespace {

const QString kClient = QStringLiteral(TV_BINARY_DIR "/client/Tarvolin");

QByteArray Scenario(int throws) {
    return throws > 0 ? QByteArray("throws:") + QByteArray::number(throws) + ",quit"
                      : QByteArray("quit");
}

double Unsupervised(int throws) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TARVOLIN_DEMO_SCENARIO"), QString::fromLatin1(Scenario(throws)));
    process.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    process.start(kClient, {});
    process.waitForFinished(600000);
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

double Supervised(int throws, int& reports) {
    qputenv("TARVOLIN_DEMO_SCENARIO", Scenario(throws));
    TDebugger debugger;
    TDebuggedProcess* p = debugger.DebugProcess(kClient, false);
    reports = 0;
    p->OnException = [&reports](TDebuggedProcess*, TDebugExInfo&) { ++reports; };
    QElapsedTimer timer;
    timer.start();
    p->Start();
    while (p->IsRunning()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

struct TBreakdown {
    int Reports = 0;
    double Collect = 0; // memory reads + unwind + map lookups
    double Unwind = 0;
    double Lookup = 0;
    double Screenshot = 0;
    double Total = 0;
};

double Ms(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

// The debug thread alone; every report is collected a second time with its
// pieces timed.
TBreakdown Instrumented(int throws) {
    qputenv("TARVOLIN_DEMO_SCENARIO", Scenario(throws));
    TBreakdown b;
    TDebugThread thread(kClient);
    thread.OnDebugException = [&b, &thread](TDebugThread*, TDebugExInfo& ex) {
        ++b.Reports;
        QElapsedTimer t;
        t.start();
        TDebugExInfo again;
        again.CollectErrorInfo(ex.Process(), ex.Thread(), ex.Error());
        b.Collect += Ms(t);
        t.restart();
        const QList<uint64_t> walked = ex.Thread()->GetStackTrace();
        b.Unwind += Ms(t);
        t.restart();
        for (uint64_t address : walked) {
            TLocationInfo info;
            ex.Process()->GetLocationInfo(address, info);
        }
        b.Lookup += Ms(t);
        t.restart();
        QImage shot;
        GrabWindowClientArea(FindProcessTopWindow(thread.Process().Id()), shot);
        b.Screenshot += Ms(t);
    };
    QElapsedTimer timer;
    timer.start();
    thread.start();
    thread.wait();
    b.Total = Ms(timer);
    return b;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (!QFile::exists(kClient)) {
        std::fprintf(stderr, "The demo client is missing: %s\n", qPrintable(kClient));
        return 1;
    }
    if (!HasWindowSystem()) {
        std::printf("No X display: the client runs offscreen, screenshots are empty.\n");
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const double plain0 = Unsupervised(0);
    const double plainN = Unsupervised(n);
    int reports0 = 0;
    int reportsN = 0;
    const double sup0 = Supervised(0, reports0);
    const double supN = Supervised(n, reportsN);
    const TBreakdown b = Instrumented(n);

    std::printf("throws: %d, reported: %d\n", n, reportsN);
    std::printf("unsupervised: %.1f ms (start and quit alone %.1f ms)\n", plainN, plain0);
    std::printf("supervised:   %.1f ms (start and quit alone %.1f ms)\n", supN, sup0);
    std::printf("ratio supervised / unsupervised: %.2f\n", supN / plainN);
    const double perReport = ((supN - sup0) - (plainN - plain0)) / std::max(1, reportsN);
    std::printf("one reported exception: %.3f ms\n", perReport);
    if (b.Reports > 0) {
        const double collect = b.Collect / b.Reports;
        const double unwind = b.Unwind / b.Reports;
        const double lookup = b.Lookup / b.Reports;
        const double shot = b.Screenshot / b.Reports;
        std::printf("  memory reads:  %.3f ms\n", std::max(0.0, collect - unwind - lookup));
        std::printf("  unwind:        %.3f ms\n", unwind);
        std::printf("  map lookup:    %.3f ms\n", lookup);
        std::printf("  screenshot:    %.3f ms\n", shot);
        std::printf("  stop, hand-over and the rest: %.3f ms\n",
                    std::max(0.0, perReport - collect - shot));
    }
    return 0;
}
