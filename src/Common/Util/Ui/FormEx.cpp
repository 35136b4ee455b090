#include "Common/Util/Ui/FormEx.h"

#include "Common/Images/Ui/ImagesModule.h"
#include "Common/Util/StrUtilsEx.h"

#include <QAbstractButton>
#include <QCoreApplication>

void TFormExBase::RefreshUI() {
    for (TFrameEx* frame : Widget()->findChildren<TFrameEx*>()) {
        // Only the frames directly below this window or frame; nested ones
        // are refreshed by their own frame.
        QWidget* p = frame->parentWidget();
        while (p != nullptr && p != Widget() && dynamic_cast<TFrameEx*>(p) == nullptr)
            p = p->parentWidget();
        if (p == Widget())
            frame->RefreshUI();
    }
}

void TFormExBase::Loaded() {
    if (ImagesModule) {
        for (QAbstractButton* button : Widget()->findChildren<QAbstractButton*>())
            ImagesModule->SetupButtonImages(button);
    }
    RefreshUI();
}

TGlobalForms& TGlobalForms::Instance() {
    static TGlobalForms forms;
    return forms;
}

void TGlobalForms::Register(QWidget* form, const QString& className) {
    const QPointer<QWidget> existing = FList.value(className);
    if (existing && existing != form)
        throw EForm(
            QCoreApplication::translate("TGlobalForms", "Ez a form csak egy példányban létezhet."),
            Format(QCoreApplication::translate(
                       "TGlobalForms", "A %s típusú form már létezik egy másik példányban."),
                   {className}));
    FList.insert(className, form);
}

void TGlobalForms::Unregister(QWidget* form) {
    for (auto it = FList.begin(); it != FList.end();) {
        if (it.value() == form || it.value().isNull())
            it = FList.erase(it);
        else
            ++it;
    }
}

QWidget* TGlobalForms::GetForm(const QString& className) const {
    return FList.value(className).data();
}
