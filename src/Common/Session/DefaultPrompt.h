#pragma once

#include "Common/Session/Sessions.h"

// The process-wide password prompt that new session lists ask through: the
// program installs its dialogs at start, tests a scripted prompt.
IPasswordPrompt* DefaultPasswordPrompt();
// Answers the previous one.
IPasswordPrompt* SetDefaultPasswordPrompt(IPasswordPrompt* prompt);
