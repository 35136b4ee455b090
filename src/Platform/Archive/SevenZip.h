#pragma once

// Archives through the 7-Zip program "7zz": which file names count as
// archives, listing the entries, checking them before anything is written,
// and extracting them with the engine's progress. The program is looked up
// on the process's PATH at every use, so a folder put first on PATH (the
// downloaded 7-Zip package) wins over the system's copy.

#include "Platform/Runtime/Exception.h"

#include <QList>
#include <QString>

#include <functional>

// The engine is missing, the archive is damaged or holds unsafe entries.
TV_DECLARE_EXCEPTION(EArchiveError, Exception);

struct TArchiveEntry {
    QString Path;
    bool IsFolder = false;
    bool IsSymLink = false;
    bool IsHardLink = false;
    // Where a link points (for a hard link: the entry it shares its content with).
    QString LinkTarget;
    qint64 Size = 0;
};

class TSevenZipArchive {
public:
    // The program's name.
    static QString EngineName();
    // Full path of the program: the first "7zz" on PATH; raises EArchiveError when none.
    static QString FindEngine();

    // The unpack format whose name patterns match the file name first
    // (letter case ignored), empty when none. Executable images ("PE":
    // *.exe, *.dll, *.sys, *.bpl) come first and are no archives.
    static QString FindFormat(const QString& fileName);
    // A file that the installers unpack: a format matches and it is not "PE".
    static bool IsCompressedFileName(const QString& fileName);

    explicit TSevenZipArchive(const QString& archiveFile);

    // Every entry; a damaged archive or a missing engine raises EArchiveError.
    QList<TArchiveEntry> List() const;
    // Raises EArchiveError for an entry with an absolute path or a ".."
    // part, and for a link that points out of the extraction folder.
    static void CheckEntries(const QList<TArchiveEntry>& entries);
    // Lists and checks the entries, then extracts all of them below
    // destFolder (which must exist), reporting the engine's percentages.
    using TProgress = std::function<void(qint64 position, qint64 maximum)>;
    void Extract(const QString& destFolder, const TProgress& progress) const;

private:
    // Fills in the targets of links that the listing does not name (7z and
    // zip keep them as the entry's content).
    void ReadLinkTargets(QList<TArchiveEntry>& entries) const;
    QByteArray Run(const QStringList& arguments) const;

    QString FArchiveFile;
};
