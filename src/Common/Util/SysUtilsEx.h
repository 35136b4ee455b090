#pragma once

#include <QString>

// Full file name of the running executable.
QString GetModuleFileName();
// File version of the running executable ("%u.%u.%u.%u"), empty when it has none.
QString GetExecutableVersion();
// "Verzió: %s" filled with the executable's version, for display.
QString GetExecutableVersionText();

// True when the user may administer this machine: uid 0, or a member of the
// sudo, wheel or admin group.
bool IsUserAdmin();

bool EnvironmentVariableExists(const QString& name);
QString GetEnvironmentVariable(const QString& name);
// An empty value clears the variable.
void SetEnvironmentVariable(const QString& name, const QString& value);
void ClearEnvironmentVariable(const QString& name);

// Puts the folder first on the process's PATH unless it is already there.
// Entries are separated by ":" and compared exactly (file names are
// case-sensitive); empty entries are dropped; existing entries keep their case.
void PrependToPath(const QString& folder);

// Opens the desktop's mail program with a "mailto:" link.
bool ComposeMail(const QString& address, const QString& subject, const QString& body);
// The "mailto:" address that ComposeMail opens.
QString BuildMailToUrl(const QString& address, const QString& subject, const QString& body);
