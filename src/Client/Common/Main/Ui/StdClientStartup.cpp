#include "Client/Common/Main/Ui/StdClientStartup.h"

#include "Common/Util/StrUtilsEx.h"
#include "Common/Util/Ui/ProgressTasks.h"

#include <QApplication>
#include <QCoreApplication>

namespace {
QString LoadCaption(const char* what) {
    return FixArticle(Format(QCoreApplication::translate("TStdClientStartup", "A(z) %s betöltése."),
                             {QCoreApplication::translate("TStdClientStartup", what)}));
}
} // namespace

void TStdClientStartup::AddStartupTasks(TDelayedSimpleProgressedTasks& tasks) {
    const TComponentClassRef mainModule = GetMainModuleClass();
    if (!mainModule.IsEmpty())
        tasks.AddNew<TCreateFormTask>(mainModule);
    // The system-information module and the shared image lists join here as
    // they are built.
    tasks.AddNew<TMethodTask>(LoadCaption("csomagok"), [this] { LoadPackages(); });
    tasks.AddNew<TMethodTask>(LoadCaption("környezetek"), [this] { LoadEnvironments(); });
    tasks.AddNew<TMethodTask>(LoadCaption("munkafázisok"), [this] { LoadSessions(); });
    const TComponentClassRef mainForm = GetMainFormClass();
    if (!mainForm.IsEmpty())
        tasks.AddNew<TCreateFormTask>(mainForm);
}

void TStdClientStartup::LoadPackages() {
    LoadPackagesRepository();
}
void TStdClientStartup::LoadEnvironments() {
    LoadEnvironmentsRepository();
}
void TStdClientStartup::LoadSessions() {
    LoadSessionsRepository();
}

void TStdClientStartup::Finalize() {
    QCoreApplication::exit(0);
    const TComponentClassRef mainForm = GetMainFormClass();
    if (!mainForm.IsEmpty())
        mainForm.Free();
    const TComponentClassRef mainModule = GetMainModuleClass();
    if (!mainModule.IsEmpty())
        mainModule.Free();
}
