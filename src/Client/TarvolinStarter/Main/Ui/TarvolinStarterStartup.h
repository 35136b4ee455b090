#pragma once

#include "Client/Common/Main/Ui/StdClientStartup.h"

// The starter's start-up: its title and caption, main module and main
// window, auto-start of a client, the tray icon, disconnect at the end.
class TTarvolinStarterStartup : public TStdClientStartup {
protected:
    void Run() override;
    void Finalize() override;
    QString GetTitle() const override;
    QString GetStartupCaption() const override;
    TComponentClassRef GetMainModuleClass() const override;
    TComponentClassRef GetMainFormClass() const override;
    TEnvironments* GetEnvironments() const override;
    TSessions* GetSessions() const override;
};
