#include "Client/Common/Main/ClientModule.h"

#include "Common/Error/CustomException.h"

namespace {
std::function<void()>& CentralHandler() {
    static std::function<void()> handler;
    return handler;
}
} // namespace

TClientModule::TClientModule(QObject* owner) : QObject(owner) {}

TClientModule::~TClientModule() = default;

void TClientModule::SetCentralExceptionHandler(std::function<void()> handler) {
    CentralHandler() = std::move(handler);
}

void TClientModule::HandleCurrentException() {
    try {
        if (CentralHandler())
            CentralHandler()();
        else
            ShowCurrentException();
    } catch (...) {
        // The central handling itself failed: nothing is left to tell.
    }
}

bool TClientModule::Connect(const QString& user, const QString& password, const TEnvironment* env) {
    TV_ASSERT(env != nullptr);
    try {
        DoConnect(user, password, *env);
    } catch (...) {
        Disconnect();
        throw;
    }
    return Connected();
}

void TClientModule::Disconnect() {
    try {
        DoDisconnect();
    } catch (...) {
        HandleCurrentException();
    }
}

void TClientModule::Destroying() {
    Disconnect();
    try {
        TV_ASSERT(!Connected());
    } catch (...) {
        HandleCurrentException();
    }
}

TConnectTask::TConnectTask(const QString& caption, const QString& userName, const QString& password,
                           const TEnvironment* env)
    : TTask(caption), FUserName(userName), FPassword(password), FEnv(env) {
    TV_ASSERT(!caption.isEmpty());
    TV_ASSERT(!userName.isEmpty());
    TV_ASSERT(!password.isEmpty());
    TV_ASSERT(env != nullptr);
}

TModuleConnectTask::TModuleConnectTask(TClientModule* module, const QString& caption,
                                       const QString& userName, const QString& password,
                                       const TEnvironment* env)
    : TConnectTask(caption, userName, password, env), FModule(module) {
    TV_ASSERT(module != nullptr);
}

void TModuleConnectTask::Execute() {
    FModule->Connect(FUserName, FPassword, FEnv);
}
