#include "Client/Common/Login/Ui/LoginForm.h"

#include "Common/Config/Deployment.h"
#include "Common/Environments/Environments.h"
#include "Common/Images/Ui/ImagesModule.h"
#include "Common/Session/Sessions.h"
#include "Common/Util/SysUtilsEx.h"
#include "Common/Util/Ui/FormFactory.h"
#include "Common/Util/Ui/LabeledComboBox.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>

namespace {
QString Tr(const char* text) {
    return QCoreApplication::translate("TLoginForm", text);
}
} // namespace

TLoginForm::TLoginForm(QWidget* parent) : TFormEx(parent) {
    setObjectName(QStringLiteral("LoginForm"));
    setWindowTitle(Tr("Bejelentkezés"));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(569, 289);

    MainImage = new QLabel(this);
    MainImage->setObjectName(QStringLiteral("MainImage"));
    MainImage->setGeometry(8, 8, 553, 138);
    MainImage->setScaledContents(true);
    if (ImagesModule) {
        QPixmap logo;
        ImagesModule->LoadMainLogoBackground(logo);
        MainImage->setPixmap(logo);
    }

    EnvironmentsList = new TLabeledComboBox(this);
    EnvironmentsList->setObjectName(QStringLiteral("EnvironmentsList"));
    EnvironmentsList->EditLabel()->setText(Tr("Környezet"));
    EnvironmentsList->SetLabelPosition(TLabeledComboBox::lpLeft);
    EnvironmentsList->setGeometry(72, 152, 314, 23);

    UserNameList = new TLabeledComboBox(this);
    UserNameList->setObjectName(QStringLiteral("UserNameList"));
    UserNameList->setEditable(true);
    UserNameList->setInsertPolicy(QComboBox::NoInsert);
    UserNameList->EditLabel()->setText(Tr("Felhasználó"));
    UserNameList->SetLabelPosition(TLabeledComboBox::lpLeft);
    UserNameList->setGeometry(72, 182, 314, 23);

    PasswordEdit = new QLineEdit(this);
    PasswordEdit->setObjectName(QStringLiteral("PasswordEdit"));
    PasswordEdit->setEchoMode(QLineEdit::Password);
    PasswordEdit->setGeometry(72, 212, 314, 23);
    auto* passwordLabel = new QLabel(Tr("Jelszó"), this);
    passwordLabel->setBuddy(PasswordEdit);
    passwordLabel->adjustSize();
    passwordLabel->move(72 - passwordLabel->width() - 3, 212 + (23 - passwordLabel->height()) / 2);

    LoginButton = new QPushButton(Tr("Belépés"), this);
    LoginButton->setObjectName(QStringLiteral("LoginButton"));
    LoginButton->setGeometry(393, 152, 81, 81);
    LoginButton->setDefault(true);
    LoginButton->setProperty("ImageList", QStringLiteral("BigNormal"));
    LoginButton->setProperty("ImageIndex", 12);
    CancelButton = new QPushButton(Tr("Mégsem"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setGeometry(480, 152, 81, 81);
    CancelButton->setProperty("ImageList", QStringLiteral("BigNormal"));
    CancelButton->setProperty("ImageIndex", 0);
    connect(LoginButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* bevel = new QFrame(this);
    bevel->setObjectName(QStringLiteral("SupportBevel"));
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(8, 240, 553, 2);

    SupportLabel = new QLabel(SupportText(), this);
    SupportLabel->setObjectName(QStringLiteral("SupportLabel"));
    SupportLabel->setTextFormat(Qt::RichText);
    SupportLabel->setAlignment(Qt::AlignCenter);
    SupportLabel->setWordWrap(true);
    SupportLabel->setCursor(Qt::PointingHandCursor);
    SupportLabel->setGeometry(8, 248, 553, 38);
    SupportLabel->installEventFilter(this);

    LoginPopupMenu = new QMenu(this);
    LoginPopupMenu->setObjectName(QStringLiteral("LoginPopupMenu"));
    QAction* systemInfo = LoginPopupMenu->addAction(Tr("Rendszer információk..."));
    systemInfo->setObjectName(QStringLiteral("SystemInfoMenu"));
    // The system-information window is not part of this program yet.
    systemInfo->setEnabled(false);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { LoginPopupMenu->popup(mapToGlobal(at)); });

    setTabOrder(EnvironmentsList, UserNameList);
    setTabOrder(UserNameList, PasswordEdit);

    connect(EnvironmentsList, QOverload<int>::of(&QComboBox::activated), this,
            [this](int) { EnvironmentsListClick(); });
    connect(UserNameList, QOverload<int>::of(&QComboBox::activated), this,
            [this](int) { UserNameListClick(); });
    connect(UserNameList, &QComboBox::editTextChanged, this, [this] { UpdateLoginButton(); });
    connect(PasswordEdit, &QLineEdit::textChanged, this, [this] { UpdateLoginButton(); });

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    Loaded();
}

TLoginForm::~TLoginForm() = default;

QString TLoginForm::SupportText() {
    const TSupportContacts& contacts = SupportContacts();
    QStringList phones;
    for (const QString& phone : contacts.Phones)
        phones << QStringLiteral("<b>%1</b>").arg(phone.toHtmlEscaped());
    return Tr("Probléma, kérdés esetén hívja ügyfélszolgálatunkat a") + QLatin1Char(' ') +
           phones.join(QLatin1Char(' ') + Tr("vagy") + QLatin1Char(' ')) + QLatin1Char(' ') +
           Tr("telefonszámon, vagy írjon nekünk az") +
           QStringLiteral(" <b><u><font color=\"blue\">%1</font></u></b> ")
               .arg(contacts.Email.toHtmlEscaped()) +
           Tr("címre.");
}

void TLoginForm::Fill(const QString& userName, const QString& password,
                      const QList<TSession*>& sessions, const QList<TEnvironment*>& environments,
                      const QString& envName) {
    FSessions = sessions;
    FEnvironments = environments;
    EnvironmentsList->clear();
    int selected = -1;
    for (int i = 0; i < environments.size(); ++i) {
        EnvironmentsList->addItem(environments[i]->Description());
        if (selected < 0 && environments[i]->Id() == envName)
            selected = i;
    }
    if (selected < 0 && !environments.isEmpty())
        selected = 0;
    EnvironmentsList->setCurrentIndex(selected);
    UserNameList->clear();
    if (TEnvironment* env = Environment()) {
        for (TSession* s : sessions)
            if (s->EnvName() == env->Id())
                UserNameList->addItem(s->UserName());
    }
    UserNameList->setEditText(userName);
    PasswordEdit->setText(password);
    UpdateLoginButton();
    MoveFocus();
}

TEnvironment* TLoginForm::Environment() const {
    const int index = EnvironmentsList->currentIndex();
    return index >= 0 && index < FEnvironments.size() ? FEnvironments[index] : nullptr;
}

void TLoginForm::EnvironmentsListClick() {
    UserNameList->clear();
    UserNameList->setEditText(QString());
    PasswordEdit->clear();
    if (TEnvironment* env = Environment()) {
        bool first = true;
        for (TSession* s : FSessions) {
            if (s->EnvName() != env->Id())
                continue;
            UserNameList->addItem(s->UserName());
            if (first) {
                UserNameList->setCurrentIndex(0);
                UserNameList->setEditText(s->UserName());
                PasswordEdit->setText(s->Password());
                first = false;
            }
        }
    }
    UserNameListClick();
}

void TLoginForm::UserNameListClick() {
    PasswordEdit->clear();
    if (TEnvironment* env = Environment()) {
        const QString user = UserNameList->currentText();
        for (TSession* s : FSessions) {
            if (s->UserName() == user && s->EnvName() == env->Id()) {
                PasswordEdit->setText(s->Password());
                break;
            }
        }
    }
    UpdateLoginButton();
    MoveFocus();
}

void TLoginForm::UpdateLoginButton() {
    LoginButton->setEnabled(Environment() != nullptr && !UserNameList->currentText().isEmpty() &&
                            !PasswordEdit->text().isEmpty());
}

void TLoginForm::MoveFocus() {
    if (Environment() == nullptr)
        EnvironmentsList->setFocus();
    else if (UserNameList->currentText().isEmpty())
        UserNameList->setFocus();
    else if (PasswordEdit->text().isEmpty())
        PasswordEdit->setFocus();
    else
        LoginButton->setFocus();
}

bool TLoginForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == SupportLabel && event->type() == QEvent::MouseButtonRelease) {
        ComposeMail(SupportContacts().Email, Tr("Tarvolin kérdés"), QString());
        return true;
    }
    return TFormEx::eventFilter(watched, event);
}

bool TLoginForm::Login(QString& userName, QString& password, const QList<TSession*>& sessions,
                       const QList<TEnvironment*>& environments, QString& envName) {
    TLoginForm form;
    form.Fill(userName, password, sessions, environments, envName);
    SetPopupParent(&form, DefaultPopupParent());
    if (form.exec() != QDialog::Accepted)
        return false;
    TV_ASSERT(form.LoginButton->isEnabled());
    userName = form.UserNameList->currentText();
    password = form.PasswordEdit->text();
    envName = form.Environment()->Id();
    return true;
}
