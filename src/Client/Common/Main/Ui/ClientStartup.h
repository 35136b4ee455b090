#pragma once

#include "Client/Common/Main/AppStartup.h"

#include <QString>

class TDelayedSimpleProgressedTasks;

// User-interface start-up: title, a start-up task list shown with progress,
// the message loop and the fatal-error dialog.
class TClientStartup : public TAppStartup {
protected:
    void HandleFatalException(const std::exception& error) override;
    void Initialize() override;
    void Run() override;
    void Finalize() override {}

    virtual QString GetTitle() const = 0;
    virtual QString GetStartupCaption() const = 0;
    virtual void AddStartupTasks(TDelayedSimpleProgressedTasks& tasks) = 0;
};
