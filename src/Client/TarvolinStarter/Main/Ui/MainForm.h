#pragma once

// The starter's main window: the supervised clients, the starter's log and
// its settings.

#include <QMainWindow>
#include <memory>

class QCheckBox;
class QPlainTextEdit;
class QStatusBar;
class QSystemTrayIcon;
class QTabWidget;
class QTableWidget;
class QToolBar;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Refreshes the status text and the settings check boxes.
    void RefreshUI();
    QString StatusText() const;
    QSystemTrayIcon* TrayIcon() const { return FTrayIcon; }
    QPlainTextEdit* SystemMemo() const { return FSystemMemo; }

private:
    QTabWidget* ThePageControl;
    QToolBar* TarvolinToolBar;
    QTableWidget* TarvolinGrid;
    QPlainTextEdit* FSystemMemo;
    QCheckBox* ShowExitedProcessesCheckBox;
    QCheckBox* ExitAfterLastProcessExitCheckBox;
    QCheckBox* AutoStartTarvolinCheckBox;
    QSystemTrayIcon* FTrayIcon;
    bool FRefreshing = false;
};

extern std::unique_ptr<TMainForm> MainForm;
