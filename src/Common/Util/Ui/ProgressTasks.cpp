#include "Common/Util/Ui/ProgressTasks.h"

#include "Common/Util/StrUtilsEx.h"
#include "Platform/Runtime/Exception.h"
#include "Platform/Runtime/MainThread.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QWindow>

namespace {

void CenterOn(QWidget* window, QWidget* owner) {
    QRect area;
    if (owner != nullptr && owner->isVisible())
        area = owner->frameGeometry();
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid())
        window->move(area.center() - window->rect().center());
}

void BringToFront(QWidget* window) {
    if (window != nullptr && window->isVisible()) {
        window->raise();
        window->activateWindow();
    }
}

} // namespace

// ---- TWindowDisabler

TWindowDisabler::TWindowDisabler() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isWindow() && w->isEnabled() && w->isVisible()) {
            w->setEnabled(false);
            FWindows.append(w);
        }
    }
}

TWindowDisabler::~TWindowDisabler() {
    for (const QPointer<QWidget>& w : FWindows) {
        if (w)
            w->setEnabled(true);
    }
}

QList<QPointer<QWidget>> TWindowDisabler::Take() {
    QList<QPointer<QWidget>> taken;
    taken.swap(FWindows);
    return taken;
}

// ---- TCreateFormTask

TCreateFormTask::TCreateFormTask(TComponentClassRef componentClass)
    : TTask(Format(QStringLiteral("Form %s létrehozása."), {componentClass.ClassName.mid(1)})),
      FInstanceClass(std::move(componentClass)) {
    TV_ASSERT(!FInstanceClass.IsEmpty());
}

void TCreateFormTask::Execute() {
    RunOnMainThread([this] { FInstanceClass.Create(); });
}

// ---- TProgressedTasks

void TProgressedTasks::Execute() {
    RunOnMainThread([this] {
        if (FProgressBar) {
            FProgressBar->setMinimum(0);
            FProgressBar->setMaximum(Count());
            FProgressBar->setValue(0);
        }
    });
    TTasks::Execute();
}

void TProgressedTasks::ExecuteTask(TTask* task) {
    TTasks::ExecuteTask(task);
    RunOnMainThread([this] {
        if (!FProgressBar)
            return;
        const int position = FProgressBar->value();
        if (position < FProgressBar->maximum() - 1) {
            // Two settings, the second a step back, so the bar's animation
            // catches up at once.
            FProgressBar->setValue(position + 2);
            FProgressBar->setValue(position + 1);
        } else {
            FProgressBar->setValue(FProgressBar->maximum());
        }
        FProgressBar->repaint();
    });
}

// ---- TSimpleProgressForm

TSimpleProgressForm::TSimpleProgressForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SimpleProgressForm"));
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
}

void TSimpleProgressForm::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void TSimpleProgressForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- TSimpleProgressedTasks

TSimpleProgressedTasks::TSimpleProgressedTasks(QWidget* popupParent) : FPopupParent(popupParent) {}

TSimpleProgressedTasks::~TSimpleProgressedTasks() = default;

std::unique_ptr<TSimpleProgressForm> TSimpleProgressedTasks::CreateProgressForm() {
    auto form = std::make_unique<TSimpleProgressForm>();
    form->setWindowTitle(FCaption);
    const int width = 300;
    form->resize(width, FShowTaskCaptions ? 80 : 60);
    auto* bar = new QProgressBar(form.get());
    bar->setObjectName(QStringLiteral("TaskProgressBar"));
    bar->setTextVisible(false);
    FTaskLabel = nullptr;
    int barTop = 8;
    if (FShowTaskCaptions) {
        auto* label = new QLabel(form.get());
        label->setObjectName(QStringLiteral("TaskLabel"));
        label->setAlignment(Qt::AlignCenter);
        label->setGeometry(8, 8, width - 16, label->fontMetrics().height() + 2);
        FTaskLabel = label;
        barTop = label->y() + label->height() + 8;
    }
    bar->setGeometry(8, barTop, width - 16, 17);
    form->resize(width, std::max(form->height(), barTop + bar->height() + 8));
    FProgressBar = bar;
    CenterOn(form.get(), nullptr);
    return form;
}

void TSimpleProgressedTasks::ShowProgressForm() {
    if (!FForm)
        return;
    QWidget* parent = FPopupParent ? FPopupParent.data() : QApplication::activeWindow();
    if (parent == FForm.get())
        parent = nullptr;
    SetPopupParent(FForm.get(), parent);
    FForm->show();
    FForm->raise();
    FForm->activateWindow();
}

void TSimpleProgressedTasks::SetShowForm(bool value) {
    FShowForm = value;
    if (!FRunning)
        return;
    RunOnMainThread([this, value] {
        if (!FForm)
            return;
        if (value) {
            FPopupParent = QApplication::activeWindow() != FForm.get()
                               ? QApplication::activeWindow()
                               : FPopupParent.data();
            ShowProgressForm();
        } else {
            FForm->hide();
        }
    });
}

void TSimpleProgressedTasks::Execute() {
    std::unique_ptr<TWindowDisabler> disabler;
    RunOnMainThread([this, &disabler] {
        disabler = std::make_unique<TWindowDisabler>();
        FForm = CreateProgressForm();
        if (FShowForm)
            ShowProgressForm();
    });
    auto cleanup = [this, &disabler] {
        RunOnMainThread([this, &disabler] {
            disabler.reset();
            BringToFront(FPopupParent);
            FProgressBar = nullptr;
            FTaskLabel = nullptr;
            FForm.reset();
        });
    };
    try {
        TProgressedTasks::Execute();
    } catch (...) {
        cleanup();
        throw;
    }
    cleanup();
}

void TSimpleProgressedTasks::ExecuteTask(TTask* task) {
    if (FShowTaskCaptions) {
        RunOnMainThread([this, task] {
            if (FTaskLabel != nullptr) {
                FTaskLabel->setText(task->Caption());
                FTaskLabel->repaint();
            }
            QCoreApplication::processEvents();
        });
    }
    TProgressedTasks::ExecuteTask(task);
    RunOnMainThread([] { QCoreApplication::processEvents(); });
}

// ---- TDelayedSimpleProgressedTasks

TDelayedSimpleProgressedTasks::TDelayedSimpleProgressedTasks(QWidget* popupParent)
    : TSimpleProgressedTasks(popupParent) {
    FShowForm = false;
}

void TDelayedSimpleProgressedTasks::Execute() {
    FStartTime.start();
    TSimpleProgressedTasks::Execute();
}

void TDelayedSimpleProgressedTasks::ExecuteTask(TTask* task) {
    bool visible = false;
    RunOnMainThread([this, &visible] { visible = FForm && FForm->isVisible(); });
    if (!visible && FStartTime.elapsed() > FDelay)
        SetShowForm(true);
    TSimpleProgressedTasks::ExecuteTask(task);
}

// ---- TStartupTasks

TStartupTasks::TStartupTasks(QWidget* popupParent) : TSimpleProgressedTasks(popupParent) {}

std::unique_ptr<TSimpleProgressForm> TStartupTasks::CreateProgressForm() {
    auto form = TSimpleProgressedTasks::CreateProgressForm();
    auto* bar = form->findChild<QProgressBar*>(QStringLiteral("TaskProgressBar"));
    TV_ASSERT(bar != nullptr);
    const int width = form->width();
    auto* label = new QLabel(form.get());
    label->setObjectName(QStringLiteral("SubTaskLabel"));
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(8, bar->y() + bar->height() + 8, width - 16,
                       label->fontMetrics().height() + 2);
    auto* sub = new QProgressBar(form.get());
    sub->setObjectName(QStringLiteral("SubProgressBar"));
    sub->setTextVisible(false);
    sub->setGeometry(8, label->y() + label->height() + 8, width - 16, 17);
    form->resize(width, form->height() + label->height() + sub->height() + 16);
    label->show();
    sub->show();
    return form;
}

void TStartupTasks::ResetSubProgress() {
    RunOnMainThread([this] {
        TV_ASSERT(FForm != nullptr);
        auto* bar = FForm->findChild<QProgressBar*>(QStringLiteral("SubProgressBar"));
        auto* label = FForm->findChild<QLabel*>(QStringLiteral("SubTaskLabel"));
        TV_ASSERT(bar != nullptr && label != nullptr);
        bar->setRange(0, 0);
        bar->setValue(0);
        label->clear();
        QCoreApplication::processEvents();
    });
}

void TStartupTasks::DoSubProgress(const QString& message, int min, int max, int position) {
    RunOnMainThread([&] {
        TV_ASSERT(FForm != nullptr);
        auto* bar = FForm->findChild<QProgressBar*>(QStringLiteral("SubProgressBar"));
        auto* label = FForm->findChild<QLabel*>(QStringLiteral("SubTaskLabel"));
        TV_ASSERT(bar != nullptr && label != nullptr);
        bar->setRange(min, max);
        bar->setValue(position);
        label->setText(message);
        QCoreApplication::processEvents();
    });
}

void TStartupTasks::ExecuteTask(TTask* task) {
    ResetSubProgress();
    TSimpleProgressedTasks::ExecuteTask(task);
}

// ---- TProgressFrame / TProgressForm

TProgressFrame::TProgressFrame(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ProgressFrame"));
    ProgressLabel = new QLabel(QStringLiteral("Progress..."), this);
    ProgressLabel->setObjectName(QStringLiteral("ProgressLabel"));
    ProgressLabel->setAlignment(Qt::AlignCenter);
    ProgressLabel->setWordWrap(true);
    ProgressLabel->setGeometry(3, 3, 355, 36);
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(3, 45, 355, 17);
    ProgressBar->setTextVisible(false);
    setFixedSize(361, 65);
}

TProgressForm::TProgressForm(QWidget* owner) : QDialog(nullptr), FPopupParent(owner) {
    setObjectName(QStringLiteral("ProgressForm"));
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    setWindowTitle(QStringLiteral("Progress"));
    FFrame = new TProgressFrame(this);
    setFixedSize(FFrame->size());
}

TProgressForm::~TProgressForm() {
    for (const QPointer<QWidget>& w : FDisabled) {
        if (w)
            w->setEnabled(true);
    }
    BringToFront(FPopupParent);
}

std::unique_ptr<TProgressForm>
TProgressForm::ShowProgress(const QString& caption, const QString& message, bool modal, bool show) {
    std::unique_ptr<TProgressForm> form;
    RunOnMainThread([&] {
        QWidget* owner = DefaultPopupParent();
        if (modal) {
            TWindowDisabler disabler;
            form = std::make_unique<TProgressForm>(owner);
            form->FDisabled = disabler.Take();
        } else {
            form = std::make_unique<TProgressForm>(owner);
        }
        SetPopupParent(form.get(), owner);
        CenterOn(form.get(), owner);
        form->setWindowTitle(caption);
        form->FFrame->ProgressLabel->setText(message);
        if (show)
            form->show();
    });
    return form;
}

void TProgressForm::closeEvent(QCloseEvent* event) {
    if (IsModalProgress())
        event->ignore();
    else
        QDialog::closeEvent(event);
}
