#include "Common/Util/Ui/MessageBoxDialogs.h"

#include "Common/Util/Ui/FormFactory.h"

#include <QApplication>
#include <QMessageBox>

bool TMessageBoxDialogs::AskYesNo(const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), title,
                    QMessageBox::Yes | QMessageBox::No, DefaultPopupParent());
    box.setInformativeText(text);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void TMessageBoxDialogs::ShowInformation(const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, QApplication::applicationDisplayName(), title,
                    QMessageBox::Ok, DefaultPopupParent());
    box.setInformativeText(text);
    box.exec();
}
