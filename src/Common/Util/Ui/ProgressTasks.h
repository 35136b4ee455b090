#pragma once

// Task runners with a progress display, and the progress windows.

#include "Common/Util/Tasks.h"
#include "Common/Util/Ui/FormFactory.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QProgressBar>

class QLabel;

// Creates a module or window through the form factory.
class TCreateFormTask : public TTask {
public:
    explicit TCreateFormTask(TComponentClassRef componentClass);
    void Execute() override;

protected:
    TComponentClassRef FInstanceClass;
};

// Drives a progress bar: one step per task.
class TProgressedTasks : public TTasks {
public:
    QProgressBar* ProgressBar() const { return FProgressBar; }
    void SetProgressBar(QProgressBar* bar) { FProgressBar = bar; }
    void ExecuteTask(TTask* task) override;
    void Execute() override;

protected:
    QPointer<QProgressBar> FProgressBar;
};

// The progress window built for one run; the user cannot close it.
class TSimpleProgressForm : public QDialog {
    Q_OBJECT
public:
    explicit TSimpleProgressForm(QWidget* parent = nullptr);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// Builds its own progress window for every run and shows each task's caption.
class TSimpleProgressedTasks : public TProgressedTasks {
public:
    explicit TSimpleProgressedTasks(QWidget* popupParent = nullptr);
    ~TSimpleProgressedTasks() override;

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& caption) { FCaption = caption; }
    bool ShowForm() const { return FShowForm; }
    void SetShowForm(bool value);
    bool ShowTaskCaptions() const { return FShowTaskCaptions; }
    void SetShowTaskCaptions(bool value) { FShowTaskCaptions = value; }
    QWidget* Form() const { return FForm.get(); }

    void ExecuteTask(TTask* task) override;
    void Execute() override;

protected:
    virtual std::unique_ptr<TSimpleProgressForm> CreateProgressForm();
    void ShowProgressForm();

    std::unique_ptr<TSimpleProgressForm> FForm;
    QLabel* FTaskLabel = nullptr;
    QString FCaption;
    bool FShowForm = true;
    bool FShowTaskCaptions = true;
    QPointer<QWidget> FPopupParent;
};

// Shows the window only before a task that starts after the delay (250 ms).
class TDelayedSimpleProgressedTasks : public TSimpleProgressedTasks {
public:
    explicit TDelayedSimpleProgressedTasks(QWidget* popupParent = nullptr);
    int Delay() const { return FDelay; }
    void SetDelay(int milliseconds) { FDelay = milliseconds; }
    void ExecuteTask(TTask* task) override;
    void Execute() override;

protected:
    QElapsedTimer FStartTime;
    int FDelay = 250;
};

// The login sequence's runner: a second, finer bar that the running task drives.
class TStartupTasks : public TSimpleProgressedTasks, public ISubProgress {
public:
    explicit TStartupTasks(QWidget* popupParent = nullptr);
    void ExecuteTask(TTask* task) override;
    void ResetSubProgress() override;
    void DoSubProgress(const QString& message, int min, int max, int position) override;

protected:
    std::unique_ptr<TSimpleProgressForm> CreateProgressForm() override;
};

// The designed progress window of long file transfers.
class TProgressFrame : public QWidget {
    Q_OBJECT
public:
    explicit TProgressFrame(QWidget* parent = nullptr);
    QLabel* ProgressLabel;
    QProgressBar* ProgressBar;
};

class TProgressForm : public QDialog {
    Q_OBJECT
public:
    explicit TProgressForm(QWidget* owner = nullptr);
    ~TProgressForm() override;

    // Creates, fills and (when AShow) shows a progress window owned by the
    // active window (or the main window). A modal one disables the others.
    static std::unique_ptr<TProgressForm>
    ShowProgress(const QString& caption, const QString& message, bool modal, bool show);
    TProgressFrame* Frame() const { return FFrame; }
    bool IsModalProgress() const { return !FDisabled.isEmpty(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TProgressFrame* FFrame;
    QList<QPointer<QWidget>> FDisabled;
    QPointer<QWidget> FPopupParent;
};

// Disables every enabled top-level window and re-enables them on release.
class TWindowDisabler {
public:
    TWindowDisabler();
    ~TWindowDisabler();
    TWindowDisabler(const TWindowDisabler&) = delete;
    TWindowDisabler& operator=(const TWindowDisabler&) = delete;
    QList<QPointer<QWidget>> Take();

private:
    QList<QPointer<QWidget>> FWindows;
};
