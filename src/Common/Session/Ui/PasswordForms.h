#pragma once

// The two small password dialogs that protect the stored passwords.

#include "Common/Session/Sessions.h"
#include "Common/Util/Ui/FormEx.h"

class QLabel;
class QLineEdit;
class QPushButton;

class TAskPasswordForm : public TFormEx {
    Q_OBJECT
public:
    explicit TAskPasswordForm(bool allowEmpty, QWidget* parent = nullptr);
    // Shows the dialog modally; answers whether OK was pressed. The password
    // receives the edit box's text in both cases.
    static bool AskForPassword(QString& password, const QString& caption, bool allowEmpty);

    QLineEdit* PasswordEdit;
    QPushButton* OkButton;
    QPushButton* CancelButton;

private:
    void UpdateOkButton();
    bool FAllowEmpty;
};

class TNewPasswordForm : public TFormEx {
    Q_OBJECT
public:
    explicit TNewPasswordForm(bool allowEmpty, QWidget* parent = nullptr);
    // The same for a new password: it receives the first edit box's text.
    static bool AskForNewPassword(QString& newPassword, const QString& caption, bool allowEmpty);

    QLineEdit* Password1Edit;
    QLineEdit* Password2Edit;
    QLabel* AllowEmptyLabel;
    QPushButton* OkButton;
    QPushButton* CancelButton;

private:
    void UpdateOkButton();
    bool FAllowEmpty;
};

// The password prompt of the program: the two dialogs above.
class TPasswordDialogs : public IPasswordPrompt {
public:
    bool AskForPassword(QString& password, const QString& caption, bool allowEmpty) override {
        return TAskPasswordForm::AskForPassword(password, caption, allowEmpty);
    }
    bool AskForNewPassword(QString& newPassword, const QString& caption, bool allowEmpty) override {
        return TNewPasswordForm::AskForNewPassword(newPassword, caption, allowEmpty);
    }
};
