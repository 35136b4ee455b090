#pragma once

// Shows a document transfer's progress in a progress bar and a label.

#include "Client/Common/DataSnap/DSClientProxy.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>

class TWidgetDocumentProgress : public IDocumentProgress {
public:
    TWidgetDocumentProgress(QProgressBar* bar, QLabel* label) : FBar(bar), FLabel(label) {}
    void SetRange(qint64 maximum) override;
    void SetPosition(qint64 position) override;
    void SetText(const QString& text) override;

private:
    QPointer<QProgressBar> FBar;
    QPointer<QLabel> FLabel;
    qint64 FDivisor = 1;
};
