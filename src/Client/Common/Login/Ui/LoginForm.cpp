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
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QToolButton>

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

    UserNameList = new TLabeledComboBox(this);
    UserNameList->setObjectName(QStringLiteral("UserNameList"));
    UserNameList->setEditable(true);
    UserNameList->setInsertPolicy(QComboBox::NoInsert);
    UserNameList->EditLabel()->setText(Tr("Felhasználó"));
    UserNameList->SetLabelPosition(TLabeledComboBox::lpLeft);

    PasswordEdit = new QLineEdit(this);
    PasswordEdit->setObjectName(QStringLiteral("PasswordEdit"));
    PasswordEdit->setEchoMode(QLineEdit::Password);
    auto* passwordLabel = new QLabel(Tr("Jelszó"), this);
    passwordLabel->setBuddy(PasswordEdit);
    passwordLabel->adjustSize();

    // The boxes end at 386; they start at 72 or, when a label is wider than
    // the room on its left (large fonts), right after the widest label.
    int labelWidth = passwordLabel->width();
    for (TLabeledComboBox* box : {EnvironmentsList, UserNameList}) {
        box->EditLabel()->adjustSize();
        labelWidth = std::max(labelWidth, box->EditLabel()->width());
    }
    const int left = std::max(72, 8 + labelWidth + 3);
    EnvironmentsList->setGeometry(left, 152, 386 - left, 23);
    UserNameList->setGeometry(left, 182, 386 - left, 23);
    PasswordEdit->setGeometry(left, 212, 386 - left, 23);
    passwordLabel->move(left - passwordLabel->width() - 3,
                        212 + (23 - passwordLabel->height()) / 2);

    auto bigButton = [this](const char* name, const QString& caption, int image, int x) {
        auto* button = new QToolButton(this);
        button->setObjectName(QLatin1String(name));
        button->setText(caption);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setGeometry(x, 152, 81, 81);
        button->setProperty("ImageList", QStringLiteral("BigNormal"));
        button->setProperty("ImageIndex", image);
        return button;
    };
    LoginButton = bigButton("LoginButton", Tr("Belépés"), 12, 393);
    CancelButton = bigButton("CancelButton", Tr("Mégsem"), 0, 480);
    connect(LoginButton, &QToolButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QToolButton::clicked, this, &QDialog::reject);

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

void TLoginForm::keyPressEvent(QKeyEvent* event) {
    // The login button is the default button: Enter logs in when it may.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (LoginButton->isEnabled())
            LoginButton->click();
        return;
    }
    TFormEx::keyPressEvent(event);
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
