#pragma once

#include <QComboBox>
#include <QPointer>

#include <QLabel>

// A combo box with a bound label that moves, shows, hides and enables with it.
class TLabeledComboBox : public QComboBox {
    Q_OBJECT
public:
    enum TLabelPosition { lpAbove, lpBelow, lpLeft, lpRight };

    explicit TLabeledComboBox(QWidget* parent = nullptr);
    ~TLabeledComboBox() override;

    QLabel* EditLabel() const { return FEditLabel; }
    TLabelPosition LabelPosition() const { return FLabelPosition; }
    void SetLabelPosition(TLabelPosition value);
    int LabelSpacing() const { return FLabelSpacing; }
    void SetLabelSpacing(int value);
    // Places the label relative to the box.
    void SetLabelGeometry();

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QPointer<QLabel> FEditLabel;
    TLabelPosition FLabelPosition = lpAbove;
    int FLabelSpacing = 3;
};
