#include "Client/Common/DataSnap/Ui/DocumentProgress.h"

#include <climits>

void TWidgetDocumentProgress::SetRange(qint64 maximum) {
    // The bar counts in 32 bits; larger files move it in coarser steps.
    FDivisor = maximum > INT_MAX ? maximum / INT_MAX + 1 : 1;
    if (FBar) {
        FBar->setMinimum(0);
        FBar->setMaximum(int(qMax<qint64>(maximum, 0) / FDivisor));
    }
}

void TWidgetDocumentProgress::SetPosition(qint64 position) {
    if (FBar)
        FBar->setValue(int(position / FDivisor));
}

void TWidgetDocumentProgress::SetText(const QString& text) {
    if (FLabel)
        FLabel->setText(text);
}
