#pragma once

// The login dialog: environment, user name and password.

#include "Common/Util/Ui/FormEx.h"

#include <QList>

class QLabel;
class QLineEdit;
class QMenu;
class QToolButton;
class TEnvironment;
class TLabeledComboBox;
class TSession;

class TLoginForm : public TFormEx {
    Q_OBJECT
public:
    explicit TLoginForm(QWidget* parent = nullptr);
    ~TLoginForm() override;

    // Shows the dialog modally. OK: the variables receive the entry and the
    // answer is true; otherwise they are untouched.
    static bool Login(QString& userName, QString& password, const QList<TSession*>& sessions,
                      const QList<TEnvironment*>& environments, QString& envName);

    // Fills the dialog from the arguments.
    void Fill(const QString& userName, const QString& password, const QList<TSession*>& sessions,
              const QList<TEnvironment*>& environments, const QString& envName);
    // The environment of the selected entry, or null.
    TEnvironment* Environment() const;
    // The support text (rich text).
    static QString SupportText();

    QLabel* MainImage;
    TLabeledComboBox* EnvironmentsList;
    TLabeledComboBox* UserNameList;
    QLineEdit* PasswordEdit;
    QToolButton* LoginButton;
    QToolButton* CancelButton;
    QLabel* SupportLabel;
    QMenu* LoginPopupMenu;

    // Choosing an environment or a user name, as the user's clicks do.
    void EnvironmentsListClick();
    void UserNameListClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdateLoginButton();
    void MoveFocus();
    QList<TSession*> FSessions;
    QList<TEnvironment*> FEnvironments;
};
