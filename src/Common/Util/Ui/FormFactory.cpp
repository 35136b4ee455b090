#include "Common/Util/Ui/FormFactory.h"

#include <QApplication>
#include <QWindow>

namespace {
QPointer<QWidget>& MainFormRef() {
    static QPointer<QWidget> form;
    return form;
}
} // namespace

QWidget* ApplicationMainForm() {
    return MainFormRef().data();
}
void SetApplicationMainForm(QWidget* form) {
    MainFormRef() = form;
}

void SetPopupParent(QWidget* window, QWidget* parent) {
    if (parent == nullptr || parent->window() == window)
        return;
    window->winId();
    parent->window()->winId();
    if (window->windowHandle() != nullptr)
        window->windowHandle()->setTransientParent(parent->window()->windowHandle());
}

QWidget* DefaultPopupParent() {
    QWidget* active = QApplication::activeWindow();
    return active != nullptr ? active : ApplicationMainForm();
}
