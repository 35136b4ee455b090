#include "Client/Common/Main/Ui/ClientStartup.h"

#include "Common/Error/CustomException.h"
#include "Common/Util/Ui/ProgressTasks.h"
#include "Platform/Runtime/TerminationSignals.h"

#include <QApplication>

void TClientStartup::HandleFatalException(const std::exception& error) {
    if (dynamic_cast<const ECustom*>(&error) != nullptr) {
        ShowException(error);
        return;
    }
    ShowException(error, QCoreApplication::translate("TClientStartup", "Helyrehozhatatlan hiba"),
                  QCoreApplication::translate(
                      "TClientStartup",
                      "Egy %s típusú hiba történt a program futása során, az alkalmazás ezért "
                      "leáll."),
                  QCoreApplication::translate(
                      "TClientStartup",
                      "Az alkalmazás futása sajnos egy váratlan hiba miatt megszakadt, a program "
                      "ki fog lépni.\r\nA hibaüzenet a következő: %s"));
}

void TClientStartup::Initialize() {
    QApplication::setApplicationDisplayName(GetTitle());
    TDelayedSimpleProgressedTasks tasks(nullptr);
    tasks.SetCaption(GetStartupCaption());
    AddStartupTasks(tasks);
    tasks.Execute();
}

void TClientStartup::Run() {
    // A termination signal that arrived during the start ends the program here.
    if (!TTerminationSignals::Requested())
        QApplication::exec();
}
