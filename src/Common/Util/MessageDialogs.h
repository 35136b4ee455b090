#pragma once

#include <QString>

// Questions and information boxes. The program installs message boxes at
// start; tests install scripted answers. Called on the main thread.
class IMessageDialogs {
public:
    virtual ~IMessageDialogs() = default;
    // A question with Yes and No buttons: true for Yes.
    virtual bool AskYesNo(const QString& title, const QString& text) = 0;
    // An information box with an OK button.
    virtual void ShowInformation(const QString& title, const QString& text) = 0;
};

// Answers the previous one.
IMessageDialogs* SetMessageDialogs(IMessageDialogs* dialogs);
// No dialogs installed: every question is answered No, information is
// written to standard error.
bool AskYesNo(const QString& title, const QString& text);
void ShowInformation(const QString& title, const QString& text);
