// ctest-label: gui
// The real executable: starts offscreen, shows its main window, and ends
// cleanly when the session tells it to.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

class TestStarterProgram : public QObject {
    Q_OBJECT
private slots:
    void startsAndEndsCleanly() {
        QTemporaryDir dir;
        QProcess starter;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        starter.setProcessEnvironment(env);
        starter.start(QStringLiteral(TV_BINARY_DIR "/bin/TarvolinStarter"), {});
        QVERIFY(starter.waitForStarted());
        QVERIFY(!starter.waitForFinished(1500)); // runs its message loop
        ::kill(pid_t(starter.processId()), SIGTERM);
        QVERIFY(starter.waitForFinished(10000));
        QCOMPARE(starter.exitStatus(), QProcess::NormalExit);
        QCOMPARE(starter.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestStarterProgram)
#include "tst_StarterProgram.moc"
