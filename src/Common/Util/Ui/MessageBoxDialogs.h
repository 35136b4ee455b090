#pragma once

#include "Common/Util/MessageDialogs.h"

// Questions and information in message boxes above the active window.
class TMessageBoxDialogs : public IMessageDialogs {
public:
    bool AskYesNo(const QString& title, const QString& text) override;
    void ShowInformation(const QString& title, const QString& text) override;
};
