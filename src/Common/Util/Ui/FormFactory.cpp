#include "Common/Util/Ui/FormFactory.h"

namespace {
QPointer<QWidget>& MainFormRef() {
    static QPointer<QWidget> form;
    return form;
}
} // namespace

QWidget* ApplicationMainForm() { return MainFormRef().data(); }
void SetApplicationMainForm(QWidget* form) { MainFormRef() = form; }
