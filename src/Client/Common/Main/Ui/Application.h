#pragma once

// The client program's application object: every exception that escapes an
// event handler reaches the main module's application-wide handler; the
// login dialog and the connect progress window serve the main module.

#include "Client/Common/Main/MainDataModuleBase.h"

#include <QApplication>

// The login dialog behind the main module's login prompt.
class TLoginFormPrompt : public ILoginPrompt {
public:
    bool Login(QString& userName, QString& password, const QList<TSession*>& sessions,
               const QList<TEnvironment*>& environments, QString& envName) override;
};

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

private:
    TLoginFormPrompt FLoginPrompt;
};
