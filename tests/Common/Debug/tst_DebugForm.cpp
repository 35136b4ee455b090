// ctest-label: gui
#include "Common/Debug/Debugger.h"
#include "Common/Debug/Ui/DebugForm.h"
#include "FakeDebuggee.h"

#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class TestDebugForm : public QObject {
    Q_OBJECT
private slots:
    void listsProgramsAndShowsTheirLog() {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("Tarvolin"));
        QFile file(program);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        TFakeLayerScope layer;
        TFakeDebuggee& d = layer.Debuggee();
        d.Append(TFakeDebuggee::CreateProcess(100, 100, 0x400000));
        d.Append(TFakeDebuggee::ExitProcess(100, 100, 0));
        TDebugger debugger;
        TDebuggedProcess* finished = debugger.DebugProcess(program, true);
        QTRY_VERIFY_WITH_TIMEOUT(!finished->IsRunning(), 5000);
        TDebuggedProcess* waiting = debugger.DebugProcess(program, false);

        TDebugForm form(debugger);
        QCOMPARE(form.windowTitle(), QStringLiteral("Programfutás felügyelet"));
        QCOMPARE(form.TerminateButton()->text(), QStringLiteral("Megszakítás"));
        QCOMPARE(form.CloseButton()->text(), QStringLiteral("Bezárás"));
        QCOMPARE(form.ProgramList()->count(), 2);
        QCOMPARE(form.ProgramList()->item(0)->text(),
                 QStringLiteral("Program Tarvolin (0) - befejezve"));
        QCOMPARE(form.ProgramList()->item(1)->text(), QStringLiteral("Program Tarvolin (0) - fut"));
        QVERIFY(form.Current() == nullptr);
        form.ProgramListClick(); // nothing selected: nothing happens
        QVERIFY(form.DebugLines()->toPlainText().isEmpty());

        form.ProgramList()->setCurrentRow(0);
        QCOMPARE(form.Current(), finished);
        form.ProgramListClick();
        QCOMPARE(form.DebugLines()->toPlainText(),
                 QStringLiteral("Program 100 elindul\nSzál 100 elindul\nSzál 100 leáll\n"
                                "Program 100 leáll"));
        QVERIFY(form.DebugLines()->isReadOnly());
        form.ProgramList()->setCurrentRow(1);
        QCOMPARE(form.Current(), waiting);

        form.show();
        QTest::mouseClick(form.CloseButton(), Qt::LeftButton);
        QCOMPARE(form.result(), int(QDialog::Accepted));
    }
};

QTEST_MAIN(TestDebugForm)
#include "tst_DebugForm.moc"
