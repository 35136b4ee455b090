#pragma once

#include "Common/Session/Sessions.h"

// Asks through the two password dialogs (TAskPasswordForm, TNewPasswordForm);
// the main module hands it to its session list.
class TDialogPasswordPrompt : public IPasswordPrompt {
public:
    bool AskForPassword(QString& password, const QString& caption, bool allowEmpty) override;
    bool AskForNewPassword(QString& newPassword, const QString& caption, bool allowEmpty) override;
};

// The program-wide dialog prompt.
IPasswordPrompt& DialogPasswordPrompt();
