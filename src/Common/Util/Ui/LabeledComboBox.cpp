#include "Common/Util/Ui/LabeledComboBox.h"

#include <QEvent>
#include <QLabel>

TLabeledComboBox::TLabeledComboBox(QWidget* parent) : QComboBox(parent) {
    // The label is a sibling (it lives beside the box), freed with the box.
    FEditLabel = new QLabel(parent);
    FEditLabel->setBuddy(this);
    SetLabelGeometry();
}

TLabeledComboBox::~TLabeledComboBox() {
    delete FEditLabel.data();
}

void TLabeledComboBox::SetLabelPosition(TLabelPosition value) {
    FLabelPosition = value;
    SetLabelGeometry();
}

void TLabeledComboBox::SetLabelSpacing(int value) {
    FLabelSpacing = value;
    SetLabelGeometry();
}

void TLabeledComboBox::SetLabelGeometry() {
    if (!FEditLabel)
        return;
    if (FEditLabel->parentWidget() != parentWidget())
        FEditLabel->setParent(parentWidget());
    FEditLabel->adjustSize();
    const QRect box = geometry();
    const QSize size = FEditLabel->size();
    QPoint at;
    switch (FLabelPosition) {
    case lpAbove:
        at = QPoint(box.left(), box.top() - size.height() - FLabelSpacing);
        break;
    case lpBelow:
        at = QPoint(box.left(), box.bottom() + 1 + FLabelSpacing);
        break;
    case lpLeft:
        at = QPoint(box.left() - size.width() - FLabelSpacing,
                    box.top() + (box.height() - size.height()) / 2);
        break;
    case lpRight:
        at =
            QPoint(box.right() + 1 + FLabelSpacing, box.top() + (box.height() - size.height()) / 2);
        break;
    }
    FEditLabel->move(at);
}

void TLabeledComboBox::moveEvent(QMoveEvent* event) {
    QComboBox::moveEvent(event);
    SetLabelGeometry();
}

void TLabeledComboBox::resizeEvent(QResizeEvent* event) {
    QComboBox::resizeEvent(event);
    SetLabelGeometry();
}

void TLabeledComboBox::showEvent(QShowEvent* event) {
    QComboBox::showEvent(event);
    if (FEditLabel) {
        SetLabelGeometry();
        FEditLabel->show();
    }
}

void TLabeledComboBox::hideEvent(QHideEvent* event) {
    QComboBox::hideEvent(event);
    if (FEditLabel)
        FEditLabel->hide();
}

void TLabeledComboBox::changeEvent(QEvent* event) {
    QComboBox::changeEvent(event);
    if (!FEditLabel)
        return;
    if (event->type() == QEvent::EnabledChange)
        FEditLabel->setEnabled(isEnabled());
    else if (event->type() == QEvent::ParentChange)
        SetLabelGeometry();
}
