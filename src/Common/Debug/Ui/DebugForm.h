#pragma once

// "Programfutás felügyelet": every program started during the run with its
// state, and the log of the selected one.

#include <QDialog>

class QListWidget;
class QPlainTextEdit;
class QPushButton;
class TDebugger;
class TDebuggedProcess;

class TDebugForm : public QDialog {
    Q_OBJECT
public:
    explicit TDebugForm(TDebugger& debugger, QWidget* parent = nullptr);
    // The program of the selected line, or none.
    TDebuggedProcess* Current() const;

    QListWidget* ProgramList() const { return FProgramList; }
    QPlainTextEdit* DebugLines() const { return FDebugLines; }
    QPushButton* TerminateButton() const { return FTerminateButton; }
    QPushButton* CloseButton() const { return FCloseButton; }

    // The text of a program's line.
    static QString ProgramText(TDebuggedProcess& process);

public slots:
    void ProgramListClick();
    // Ends the selected program.
    void TerminateButtonClick();

private:
    QListWidget* FProgramList;
    QPlainTextEdit* FDebugLines;
    QPushButton* FTerminateButton;
    QPushButton* FCloseButton;
};
