#include "Client/Common/Main/Ui/StdClientStartup.h"

#include "Common/Environments/Environments.h"
#include "Common/Repository/Repository.h"
#include "Common/Session/Sessions.h"
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

namespace {
// A repository that cannot be read starts empty; nothing is shown.
void LoadOrClear(TRepository* repository) {
    if (repository == nullptr)
        return;
    try {
        repository->Load();
    } catch (const std::exception&) {
        repository->Clear();
    }
}
} // namespace

void TStdClientStartup::LoadPackages() {
    LoadOrClear(GetPackageManager());
}

void TStdClientStartup::LoadEnvironments() {
    if (TEnvironments* environments = GetEnvironments())
        environments->LoadOrCreateDefault();
}

void TStdClientStartup::LoadSessions() {
    if (TSessions* sessions = GetSessions())
        sessions->LoadOrClear();
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
