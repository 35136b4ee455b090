#include "Client/Common/Main/Ui/Application.h"

#include "Client/Common/Login/Ui/LoginForm.h"
#include "Common/Util/Ui/ProgressTasks.h"

bool TLoginFormPrompt::Login(QString& userName, QString& password, const QList<TSession*>& sessions,
                             const QList<TEnvironment*>& environments, QString& envName) {
    return TLoginForm::Login(userName, password, sessions, environments, envName);
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    TMainDataModuleBase::SetLoginPrompt(&FLoginPrompt);
    // The connect sequence shows its progress window with the finer second bar.
    TMainDataModuleBase::SetConnectTasksFactory([](const QString& caption) {
        auto tasks = std::make_unique<TStartupTasks>();
        tasks->SetCaption(caption);
        return std::unique_ptr<TTasks>(std::move(tasks));
    });
}

TApplication::~TApplication() {
    TMainDataModuleBase::SetConnectTasksFactory(nullptr);
    TMainDataModuleBase::SetLoginPrompt(nullptr);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // Handled here: the event counts as processed.
        TMainDataModuleBase::HandleCurrentException();
        return true;
    }
}
