#include "Common/Session/Ui/DialogPasswordPrompt.h"

#include "Common/Session/Ui/PasswordForms.h"

bool TDialogPasswordPrompt::AskForPassword(QString& password, const QString& caption,
                                           bool allowEmpty) {
    return TAskPasswordForm::AskForPassword(password, caption, allowEmpty);
}

bool TDialogPasswordPrompt::AskForNewPassword(QString& newPassword, const QString& caption,
                                              bool allowEmpty) {
    return TNewPasswordForm::AskForNewPassword(newPassword, caption, allowEmpty);
}

IPasswordPrompt& DialogPasswordPrompt() {
    static TDialogPasswordPrompt prompt;
    return prompt;
}
