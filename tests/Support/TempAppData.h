#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points the per-user data folder (piLocalAppData), the shared data folder
// (piAppData) and the temporary-data folder (piTempData) at fresh temporary folders for the
// fixture's lifetime, through a "Tarvolin.xml" override that is read with ReloadConfiguration. The
// previous configuration is read again when the fixture ends.
class TTempAppData {
public:
    TTempAppData();
    ~TTempAppData();
    TTempAppData(const TTempAppData&) = delete;
    TTempAppData& operator=(const TTempAppData&) = delete;

    bool IsValid() const { return FDir.isValid(); }
    // The per-user data folder, with a trailing "/".
    QString Path() const;
    // A file in the per-user data folder.
    QString FilePath(const QString& name) const { return Path() + name; }
    // The shared data folder, with a trailing "/".
    QString AppDataPath() const;
    // The temporary-data folder (piTempData), with a trailing "/".
    QString TempPath() const;

private:
    QTemporaryDir FDir;
};

// A TTempAppData that also counts the persisted files committed while it lasts: each commit adds
// one to the counter it is given.
class TSaveCountingAppData : public TTempAppData {
public:
    explicit TSaveCountingAppData(int& saves);
    ~TSaveCountingAppData();
};

QByteArray ReadWholeFile(const QString& fileName);
void WriteWholeFile(const QString& fileName, const QByteArray& data);
