#include "Common/Session/Ui/PasswordForms.h"

#include "Common/Util/Ui/FormFactory.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("PasswordForms", text);
}

QLineEdit* PasswordBox(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setEchoMode(QLineEdit::Password);
    edit->setMinimumWidth(220);
    return edit;
}

void AddButtons(QDialog* dialog, QVBoxLayout* layout, QPushButton*& ok, QPushButton*& cancel) {
    ok = new QPushButton(Tr("Rendben"), dialog);
    ok->setObjectName(QStringLiteral("OkButton"));
    ok->setDefault(true);
    cancel = new QPushButton(Tr("Mégsem"), dialog);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    layout->addLayout(row);
}

void PrepareDialog(QDialog* dialog) {
    dialog->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    dialog->setModal(true);
    dialog->layout()->setSizeConstraint(QLayout::SetFixedSize);
}

template <class Form> bool RunModal(Form& form, const QString& caption) {
    if (!caption.isEmpty())
        form.setWindowTitle(caption);
    SetPopupParent(&form, DefaultPopupParent());
    return form.exec() == QDialog::Accepted;
}

} // namespace

TAskPasswordForm::TAskPasswordForm(bool allowEmpty, QWidget* parent)
    : TFormEx(parent), FAllowEmpty(allowEmpty) {
    setObjectName(QStringLiteral("AskPasswordForm"));
    setWindowTitle(Tr("Jelszó megadása"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    PasswordEdit = PasswordBox(this, "PasswordEdit");
    form->addRow(Tr("Jelszó"), PasswordEdit);
    layout->addLayout(form);
    AddButtons(this, layout, OkButton, CancelButton);
    PrepareDialog(this);
    connect(PasswordEdit, &QLineEdit::textChanged, this, [this] { UpdateOkButton(); });
    UpdateOkButton();
    Loaded();
}

void TAskPasswordForm::UpdateOkButton() {
    OkButton->setEnabled(FAllowEmpty || !PasswordEdit->text().isEmpty());
}

bool TAskPasswordForm::AskForPassword(QString& password, const QString& caption, bool allowEmpty) {
    TAskPasswordForm form(allowEmpty);
    const bool ok = RunModal(form, caption);
    password = form.PasswordEdit->text();
    return ok;
}

TNewPasswordForm::TNewPasswordForm(bool allowEmpty, QWidget* parent)
    : TFormEx(parent), FAllowEmpty(allowEmpty) {
    setObjectName(QStringLiteral("NewPasswordForm"));
    setWindowTitle(Tr("Új jelszó létrehozása"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    Password1Edit = PasswordBox(this, "Password1Edit");
    Password2Edit = PasswordBox(this, "Password2Edit");
    form->addRow(Tr("Jelszó"), Password1Edit);
    form->addRow(Tr("Jelszó ismétlése"), Password2Edit);
    layout->addLayout(form);
    AllowEmptyLabel = new QLabel(allowEmpty ? Tr("Üres jelszó megadása lehetséges.")
                                            : Tr("Az új jelszó nem lehet üres."),
                                 this);
    AllowEmptyLabel->setObjectName(QStringLiteral("AllowEmptyLabel"));
    AllowEmptyLabel->setAlignment(Qt::AlignCenter);
    QFont italic = AllowEmptyLabel->font();
    italic.setItalic(true);
    AllowEmptyLabel->setFont(italic);
    layout->addWidget(AllowEmptyLabel);
    AddButtons(this, layout, OkButton, CancelButton);
    PrepareDialog(this);
    connect(Password1Edit, &QLineEdit::textChanged, this, [this] { UpdateOkButton(); });
    connect(Password2Edit, &QLineEdit::textChanged, this, [this] { UpdateOkButton(); });
    UpdateOkButton();
    Loaded();
}

void TNewPasswordForm::UpdateOkButton() {
    const QString text = Password1Edit->text();
    OkButton->setEnabled(text == Password2Edit->text() && (FAllowEmpty || !text.isEmpty()));
}

bool TNewPasswordForm::AskForNewPassword(QString& newPassword, const QString& caption,
                                         bool allowEmpty) {
    TNewPasswordForm form(allowEmpty);
    const bool ok = RunModal(form, caption);
    newPassword = form.Password1Edit->text();
    return ok;
}
