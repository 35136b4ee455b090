#pragma once

// Installers put files in place and take them away as one unit of work. In a
// first phase every item prepares its change (a new file is written to a
// staging file, a file to be removed is moved aside); only when all items
// have prepared is each one committed. When anything fails every item is
// rolled back and the files already touched are as they were.
//
// Archives are unpacked next to their target folder and swapped in by
// renames (old folder aside, new folder in, old folder deleted). Each swap
// and each removal of an unpacked folder is written to a journal first, so
// that RecoverInterruptedCommits, run at the next start, finishes or undoes
// a step that a crash interrupted: every package folder is whole, either in
// its old or in its new version.

#include "Common/Util/BooleanLock.h"

#include <QIODevice>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class TInstaller;
class TMeasuredFileStream;

class TInstallItem {
public:
    virtual ~TInstallItem() = default;
    TInstallItem(const TInstallItem&) = delete;
    TInstallItem& operator=(const TInstallItem&) = delete;

    virtual void Install() = 0;
    virtual void Remove() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;

    // Any object the caller ties to the item; not owned.
    QObject* Data() const { return FData; }
    void SetData(QObject* value) { FData = value; }

protected:
    TInstallItem() = default;

private:
    QPointer<QObject> FData;
};

class TInstaller {
public:
    enum TDeployMode { dmNone, dmInstall, dmRemove };
    using TUpdateEvent = std::function<void(TInstaller& sender)>;
    using TItemEvent = std::function<void(TInstaller& sender, TInstallItem& item)>;

    TInstaller() = default;
    virtual ~TInstaller();
    TInstaller(const TInstaller&) = delete;
    TInstaller& operator=(const TInstaller&) = delete;

    // Appends the item; the installer owns it. Not while active.
    void AddItem(std::unique_ptr<TInstallItem> item);
    // Takes the item out of the list and destroys it. Not while active.
    void AddRemove(TInstallItem* item);
    void Clear();
    int Count() const { return int(FItems.size()); }
    TInstallItem* Item(int index) const { return FItems.at(std::size_t(index)).get(); }

    // Prepare every item, then commit every item; on any error roll every
    // item back and raise the first error. A call made while the installer
    // runs (from one of its events) returns at once.
    void InstallItems();
    void RemoveItems();

    bool Active() const { return FActive.Locked(); }
    TDeployMode Mode() const { return FMode; }

    TUpdateEvent OnUpdateStart;
    TUpdateEvent OnUpdateFinish;
    TUpdateEvent OnCommit;
    TUpdateEvent OnRollback;
    TItemEvent OnBeforeItemStart;
    TItemEvent OnAfterItemFinish;

protected:
    virtual void DoInstallItem(TInstallItem& item);
    virtual void DoRemoveItem(TInstallItem& item);
    virtual void DoBeforeItemStart(TInstallItem& item);
    virtual void DoAfterItemFinish(TInstallItem& item);
    virtual void DoUpdateStart();
    virtual void DoUpdateFinish();
    virtual void CommitAll();
    virtual void RollbackAll();
    virtual void InstallAll();
    virtual void RemoveAll();

private:
    void Run(TDeployMode mode);

    std::vector<std::unique_ptr<TInstallItem>> FItems;
    TBooleanLock FActive;
    TDeployMode FMode = dmNone;
};

// An item for one target path with its own staging file in the
// temporary-data folder.
class TPathInstaller : public TInstallItem {
public:
    explicit TPathInstaller(const QString& path);

    void Install() override {}
    void Remove() override {}
    // Both delete the staging file when it exists.
    void Commit() override;
    void Rollback() override;

    const QString& Path() const { return FPath; }
    // The folder that holds Path, without a trailing "/".
    QString TargetFolder() const;
    const QString& StagingPath() const { return FStagingPath; }

protected:
    void DeleteStagingFile();

private:
    QString FPath;
    QString FStagingPath;
};

class TFileInstaller : public TPathInstaller {
public:
    using TProgressEvent = std::function<void(TFileInstaller& sender, const QString& message,
                                              int min, int max, int position)>;

    explicit TFileInstaller(const QString& path);

    const QString& FileName() const { return FFileName; }
    TProgressEvent OnProgress;

    // Moves a file or folder, replacing an existing file at the destination;
    // across file systems a file is copied (with progress) and the source
    // deleted. A busy destination ("access denied") is tried three times one
    // second apart; then, as any other failure, the system error is raised.
    void MoveFile(const QString& source, const QString& dest);

    // The system's move, replaceable by tests: answers 0 or the errno value.
    using TSystemMove = std::function<int(const QString& source, const QString& dest)>;
    static TSystemMove SetSystemMove(TSystemMove move);

protected:
    virtual void DoProgress(const QString& message, int min, int max, int position);
    virtual void DoMoveProgress(qint64 total, qint64 done);

private:
    QString FFileName;
};

class TFileDeployer : public TFileInstaller {
public:
    using TSourceStreamEvent =
        std::function<void(TFileInstaller& sender, std::unique_ptr<QIODevice>& stream)>;

    explicit TFileDeployer(const QString& path);

    // Writes the new content to the staging file.
    void Install() override;
    // Moves the staging file onto Path.
    void Commit() override;

    TSourceStreamEvent OnGetSourceStream;

protected:
    virtual std::unique_ptr<QIODevice> GetSourceStream();
    virtual std::unique_ptr<TMeasuredFileStream> GetDestStream(const QString& fileName);
    // Stages the content; answers false when there was no source.
    bool StageFile();
};

class TFileRemover : public TFileInstaller {
public:
    explicit TFileRemover(const QString& path);

    // Moves Path onto the staging file.
    void Remove() override;
    // Moves the staging file back onto Path.
    void Rollback() override;
};

// Installs an archive: its content replaces the whole folder that holds Path.
class TCompressedFileDeployer : public TFileDeployer {
public:
    explicit TCompressedFileDeployer(const QString& path);

    void Install() override;
    void Commit() override;
    void Rollback() override;

    bool IsCompressed() const { return FCompressed; }
    // Where the archive is unpacked: next to the target folder, so that the
    // swap is made of renames on one file system.
    const QString& TempUncompressedPath() const { return FTempUncompressedPath; }

protected:
    virtual void DoUnpackProgress(qint64 position, qint64 maximum);

private:
    bool FCompressed = false;
    QString FTempUncompressedPath;
};

// Removes the folder an archive was unpacked into.
class TCompressedFileRemover : public TFileRemover {
public:
    explicit TCompressedFileRemover(const QString& path);

    void Remove() override;
    void Rollback() override;
    void Commit() override;

    bool IsCompressed() const { return FCompressed; }
    const QString& SetAsidePath() const { return FSetAsidePath; }

private:
    bool FCompressed = false;
    QString FSetAsidePath;
    bool FMovedAside = false;
};

// The names used next to a target folder, and the journal of folder swaps.
namespace InstallerJournal {
// "<parent>/.<name>.tvnew", ".tvold", ".tvdel" for the folder path.
QString NewFolderOf(const QString& targetFolder);
QString OldFolderOf(const QString& targetFolder);
QString RemovedFolderOf(const QString& targetFolder);
// The folder holding the journal files (below the per-user data folder).
QString JournalFolder();
// Finishes or undoes every folder swap and removal that a crash
// interrupted; answers how many were found. Errors are raised after every
// journal was tried.
int RecoverInterruptedCommits();
// Called between the steps of a folder swap with the step's name; crash
// tests stop the process here.
using TStepHook = std::function<void(const char* step)>;
void SetStepHook(TStepHook hook);
} // namespace InstallerJournal
