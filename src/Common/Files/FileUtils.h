#pragma once

// File utilities of the deployment code: folders, deletion, sizes, versions,
// checksums, the locked-file test.

#include "Common/Error/CustomException.h"

#include <QString>

class QIcon;
class QIODevice;

// A file that cannot be opened exclusively.
class EFileLocked : public ECustom {
public:
    using ECustom::ECustom;
    TV_EXCEPTION_RAISE(EFileLocked)
};

// An argument that an operation cannot work with.
TV_DECLARE_EXCEPTION(EArgumentException, Exception);

class TFileUtils {
public:
    TFileUtils() = delete;

    // Creates the folder part of APath with every missing parent: a path
    // ending in "/" names the folder itself, otherwise its folder is taken.
    static void CreateDirectory(const QString& path);
    // Creates the folder of FileName with every missing parent; raises
    // EOSError ("folder: reason") when it cannot.
    static void ForceFileFolder(const QString& fileName);
    static void DeleteFile(const QString& path);
    // Size of the first entry matching the name (wildcards allowed); -1 when none.
    static qint64 GetFileSize(const QString& fileName);
    static QString FileSizeToString(const QString& fileName);
    // The version our executables carry ("%u.%u.%u.%u"); empty for a file
    // without one; a file that cannot be read raises the system error.
    static QString GetFileVersion(const QString& fileName);
    // MD5 of the whole content as 32 lower-case hexadecimal digits.
    static QString GetMD5Checksum(const QString& fileName);
    // Writes ASource into a new (or emptied) file through a copy-progress
    // stream that expects ASize bytes.
    static void CreateFileFromStream(QIODevice* source, const QString& fileName, qint64 size);
    static bool IsFileLocked(const QString& fileName, QString& errorMsg);
    // Raises EFileLocked when the file cannot be opened for reading, or
    // another process holds a lock on it.
    static void CheckFileLocked(const QString& fileName);
    static void AppendToTxtFile(const QString& fileName, const QString& line);
    // The icon of the file's type from the desktop's icon theme.
    static bool LoadAssocIconForFile(const QString& fileName, QIcon* icon);
};
