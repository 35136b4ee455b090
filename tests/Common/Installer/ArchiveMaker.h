#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Archives for the installer tests.
struct TTarEntry {
    QString Name;
    char Type = '0'; // '0' file, '2' symbolic link, '1' hard link, '5' folder
    QByteArray Content;
    QString LinkName;
};

// A ustar archive holding exactly the given entries (names are taken as they
// are, so absolute names and ".." parts can be written).
QByteArray MakeTar(const QList<TTarEntry>& entries);
// Runs "7zz a" in the folder on the given relative names; answers the archive's path.
void Make7z(const QString& archive, const QString& folder, const QStringList& names);
