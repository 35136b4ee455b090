#include "Common/Debug/Ui/DebugForm.h"

#include "Common/Debug/Debugger.h"
#include "Common/Util/StrUtilsEx.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QVBoxLayout>

namespace {
constexpr int kProcessRole = Qt::UserRole + 1;
}

TDebugForm::TDebugForm(TDebugger& debugger, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Programfutás felügyelet"));
    resize(497, 385);
    auto* layout = new QVBoxLayout(this);
    FProgramList = new QListWidget(this);
    FProgramList->setObjectName(QStringLiteral("ProgramList"));
    FProgramList->setFixedHeight(73);
    layout->addWidget(FProgramList);
    FDebugLines = new QPlainTextEdit(this);
    FDebugLines->setObjectName(QStringLiteral("DebugLines"));
    FDebugLines->setReadOnly(true);
    FDebugLines->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(FDebugLines, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    FTerminateButton = new QPushButton(QStringLiteral("Megszakítás"), this);
    FTerminateButton->setObjectName(QStringLiteral("TerminateButton"));
    FCloseButton = new QPushButton(QStringLiteral("Bezárás"), this);
    FCloseButton->setObjectName(QStringLiteral("CloseButton"));
    buttons->addWidget(FTerminateButton);
    buttons->addWidget(FCloseButton);
    layout->addLayout(buttons);

    for (const auto& entry : debugger) {
        auto* item = new QListWidgetItem(ProgramText(*entry), FProgramList);
        item->setData(kProcessRole, QVariant::fromValue(static_cast<void*>(entry.get())));
    }
    connect(FProgramList, &QListWidget::itemClicked, this, &TDebugForm::ProgramListClick);
    connect(FTerminateButton, &QPushButton::clicked, this, &TDebugForm::TerminateButtonClick);
    connect(FCloseButton, &QPushButton::clicked, this, &QDialog::accept);
}

QString TDebugForm::ProgramText(TDebuggedProcess& process) {
    return Format(QStringLiteral("Program %s (%d) - %s"),
                  {QFileInfo(process.FileName()).fileName(), process.Id(),
                   process.IsRunning() ? QStringLiteral("fut") : QStringLiteral("befejezve")});
}

TDebuggedProcess* TDebugForm::Current() const {
    const QListWidgetItem* item = FProgramList->currentItem();
    if (item == nullptr || !item->isSelected())
        return nullptr;
    return static_cast<TDebuggedProcess*>(item->data(kProcessRole).value<void*>());
}

void TDebugForm::ProgramListClick() {
    TDebuggedProcess* process = Current();
    if (process == nullptr)
        return;
    QStringList lines;
    process->GetDebugLines(lines);
    FDebugLines->setPlainText(lines.join(QLatin1Char('\n')));
    // The view settles at the newest line.
    FDebugLines->moveCursor(QTextCursor::End);
    FDebugLines->ensureCursorVisible();
}

void TDebugForm::TerminateButtonClick() {
    if (TDebuggedProcess* process = Current())
        process->Terminate();
}
