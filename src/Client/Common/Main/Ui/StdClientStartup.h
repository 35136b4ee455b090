#pragma once

#include "Client/Common/Main/Ui/ClientStartup.h"
#include "Common/Util/Ui/FormFactory.h"

class TEnvironments;
class TSessions;
class TRepository;

// The standard start-up of a client program: creates the main module, the
// system-information module and the shared image lists, loads the package,
// environment and session repositories, creates the main window; and tears
// them down again in reverse.
class TStdClientStartup : public TClientStartup {
protected:
    void Finalize() override;
    void AddStartupTasks(TDelayedSimpleProgressedTasks& tasks) override;

    virtual TComponentClassRef GetMainModuleClass() const { return {}; }
    virtual TComponentClassRef GetMainFormClass() const { return {}; }

    // The repositories to load; none by default.
    virtual TEnvironments* GetEnvironments() const { return nullptr; }
    virtual TSessions* GetSessions() const { return nullptr; }
    virtual TRepository* GetPackageManager() const { return nullptr; }

    // The repository loading steps; each swallows a load error and empties
    // its repository (environments then fall back to the built-in one).
    void LoadPackages();
    void LoadEnvironments();
    void LoadSessions();
};
