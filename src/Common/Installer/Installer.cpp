#include "Common/Installer/Installer.h"

#include "Common/Config/Config.h"
#include "Common/Error/CustomException.h"
#include "Common/Files/FileStreams.h"
#include "Common/Files/FileUtils.h"
#include "Common/Util/StrUtilsEx.h"
#include "Platform/Archive/SevenZip.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int DefaultSystemMove(const QString& source, const QString& dest) {
    if (::rename(QFile::encodeName(source).constData(), QFile::encodeName(dest).constData()) == 0)
        return 0;
    return errno;
}

TFileInstaller::TSystemMove& SystemMove() {
    static TFileInstaller::TSystemMove move = DefaultSystemMove;
    return move;
}

InstallerJournal::TStepHook& StepHook() {
    static InstallerJournal::TStepHook hook;
    return hook;
}

void Step(const char* name) {
    if (StepHook())
        StepHook()(name);
}

bool IsBusyError(int code) {
    return code == EACCES || code == EPERM || code == EBUSY || code == ETXTBSY;
}

bool Exists(const QString& path) {
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

// Makes the renames in a folder durable.
void SyncFolder(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void RemoveFolder(const QString& folder) {
    if (!Exists(folder))
        return;
    if (QFileInfo(folder).isSymLink() || !QFileInfo(folder).isDir()) {
        TFileUtils::DeleteFile(folder);
        return;
    }
    if (!QDir(folder).removeRecursively())
        throw ECustom(FixArticle(Format(QStringLiteral("A(z) %s mappa nem törölhető."),
                                        {QDir::toNativeSeparators(folder)})),
                      FixArticle(Format(QStringLiteral("A(z) %s mappa nem törölhető, lehet, hogy "
                                                       "egy program használja a fájljait."),
                                        {QDir::toNativeSeparators(folder)})));
}

// Folders move by renames within their parent folder; a busy one is tried
// three times one second apart, as files are.
void RenameFolder(const QString& source, const QString& dest) {
    for (int attempt = 1;; ++attempt) {
        if (::rename(QFile::encodeName(source).constData(), QFile::encodeName(dest).constData()) ==
            0)
            break;
        const int code = errno;
        if (!IsBusyError(code) || attempt >= 3)
            RaiseLastOSError(source, code);
        QThread::msleep(1000);
    }
    SyncFolder(QFileInfo(dest).path());
}

QString Sibling(const QString& targetFolder, const char* suffix) {
    const QFileInfo info(QDir::cleanPath(targetFolder));
    return info.path() + QStringLiteral("/.") + info.fileName() + QLatin1String(suffix);
}

// ---- journal of folder swaps and removals

enum class TJournalKind { Swap, RemovePrepared, RemoveCommitted };

QString JournalFile(const QString& targetFolder) {
    const QByteArray key =
        QCryptographicHash::hash(QDir::cleanPath(targetFolder).toUtf8(), QCryptographicHash::Md5);
    return InstallerJournal::JournalFolder() + QString::fromLatin1(key.toHex()) +
           QStringLiteral(".journal");
}

void WriteJournal(const QString& targetFolder, TJournalKind kind) {
    TFileUtils::CreateDirectory(InstallerJournal::JournalFolder());
    QSaveFile file(JournalFile(targetFolder));
    if (!file.open(QIODevice::WriteOnly))
        RaiseLastOSError(file.fileName());
    const char* kindText = kind == TJournalKind::Swap             ? "swap"
                           : kind == TJournalKind::RemovePrepared ? "remove"
                                                                  : "removed";
    file.write(QByteArray(kindText) + '\n' + QDir::cleanPath(targetFolder).toUtf8() + '\n');
    if (!file.commit())
        RaiseLastOSError(file.fileName());
    SyncFolder(InstallerJournal::JournalFolder());
}

void RemoveJournal(const QString& targetFolder) {
    const QString name = JournalFile(targetFolder);
    if (QFile::exists(name) && !QFile::remove(name))
        RaiseLastOSError(name);
}

// Brings one target folder to a whole state after an interrupted step.
void RecoverTarget(const QString& targetFolder, TJournalKind kind) {
    const QString newFolder = InstallerJournal::NewFolderOf(targetFolder);
    const QString oldFolder = InstallerJournal::OldFolderOf(targetFolder);
    const QString removed = InstallerJournal::RemovedFolderOf(targetFolder);
    switch (kind) {
    case TJournalKind::Swap:
        // The new folder is complete before the journal is written; while it
        // is still there, the swap has not happened: keep the old version.
        if (Exists(newFolder)) {
            if (!Exists(targetFolder) && Exists(oldFolder))
                RenameFolder(oldFolder, targetFolder);
            RemoveFolder(newFolder);
        } else if (!Exists(targetFolder) && Exists(oldFolder)) {
            RenameFolder(oldFolder, targetFolder);
        }
        RemoveFolder(oldFolder);
        break;
    case TJournalKind::RemovePrepared:
        if (Exists(removed)) {
            if (!Exists(targetFolder))
                RenameFolder(removed, targetFolder);
            else
                RemoveFolder(removed);
        }
        break;
    case TJournalKind::RemoveCommitted:
        RemoveFolder(removed);
        break;
    }
    RemoveJournal(targetFolder);
}

} // namespace

// ---- InstallerJournal

QString InstallerJournal::NewFolderOf(const QString& targetFolder) {
    return Sibling(targetFolder, ".tvnew");
}

QString InstallerJournal::OldFolderOf(const QString& targetFolder) {
    return Sibling(targetFolder, ".tvold");
}

QString InstallerJournal::RemovedFolderOf(const QString& targetFolder) {
    return Sibling(targetFolder, ".tvdel");
}

QString InstallerJournal::JournalFolder() {
    return PathHelper().GetPath(TPathHelper::piLocalAppData) + QStringLiteral("Pending/");
}

void InstallerJournal::SetStepHook(TStepHook hook) {
    StepHook() = std::move(hook);
}

int InstallerJournal::RecoverInterruptedCommits() {
    const QDir dir(JournalFolder());
    if (!dir.exists())
        return 0;
    int count = 0;
    std::exception_ptr first;
    for (const QFileInfo& info :
         dir.entryInfoList({QStringLiteral("*.journal")}, QDir::Files, QDir::Name)) {
        try {
            QFile file(info.filePath());
            if (!file.open(QIODevice::ReadOnly))
                RaiseLastOSError(info.filePath());
            const QList<QByteArray> lines = file.readAll().split('\n');
            file.close();
            const QString target = lines.size() > 1 ? QString::fromUtf8(lines.at(1)) : QString();
            const QByteArray kind = lines.value(0);
            if (target.isEmpty() || !target.startsWith(u'/')) {
                // A journal that cannot be read tells nothing; drop it.
                QFile::remove(info.filePath());
                continue;
            }
            ++count;
            RecoverTarget(target, kind == "swap"     ? TJournalKind::Swap
                                  : kind == "remove" ? TJournalKind::RemovePrepared
                                                     : TJournalKind::RemoveCommitted);
        } catch (...) {
            if (!first)
                first = std::current_exception();
        }
    }
    if (first)
        std::rethrow_exception(first);
    return count;
}

// ---- TInstaller

TInstaller::~TInstaller() = default;

void TInstaller::AddItem(std::unique_ptr<TInstallItem> item) {
    TV_ASSERT(item != nullptr);
    TV_ASSERT(!Active());
    FItems.push_back(std::move(item));
}

void TInstaller::AddRemove(TInstallItem* item) {
    TV_ASSERT(item != nullptr);
    TV_ASSERT(!Active());
    for (auto it = FItems.begin(); it != FItems.end(); ++it)
        if (it->get() == item) {
            FItems.erase(it);
            return;
        }
}

void TInstaller::Clear() {
    TV_ASSERT(!Active());
    FItems.clear();
}

void TInstaller::InstallItems() {
    Run(dmInstall);
}

void TInstaller::RemoveItems() {
    Run(dmRemove);
}

void TInstaller::Run(TDeployMode mode) {
    TBooleanLockGuard guard(FActive);
    if (!guard.Acquired())
        return;
    std::exception_ptr error;
    try {
        FMode = mode;
        DoUpdateStart();
        try {
            if (mode == dmInstall)
                InstallAll();
            else
                RemoveAll();
        } catch (...) {
            error = std::current_exception();
            RollbackAll();
        }
    } catch (...) {
        if (!error)
            error = std::current_exception();
    }
    try {
        DoUpdateFinish();
    } catch (...) {
        if (!error)
            error = std::current_exception();
    }
    FMode = dmNone;
    if (error)
        std::rethrow_exception(error);
}

void TInstaller::DoInstallItem(TInstallItem& item) {
    DoBeforeItemStart(item);
    try {
        item.Install();
    } catch (...) {
        DoAfterItemFinish(item);
        throw;
    }
    DoAfterItemFinish(item);
}

void TInstaller::DoRemoveItem(TInstallItem& item) {
    DoBeforeItemStart(item);
    try {
        item.Remove();
    } catch (...) {
        DoAfterItemFinish(item);
        throw;
    }
    DoAfterItemFinish(item);
}

void TInstaller::DoBeforeItemStart(TInstallItem& item) {
    if (OnBeforeItemStart)
        OnBeforeItemStart(*this, item);
}

void TInstaller::DoAfterItemFinish(TInstallItem& item) {
    if (OnAfterItemFinish)
        OnAfterItemFinish(*this, item);
}

void TInstaller::DoUpdateStart() {
    if (OnUpdateStart)
        OnUpdateStart(*this);
}

void TInstaller::DoUpdateFinish() {
    if (OnUpdateFinish)
        OnUpdateFinish(*this);
}

void TInstaller::CommitAll() {
    if (OnCommit)
        OnCommit(*this);
    for (auto& item : FItems)
        item->Commit();
}

void TInstaller::RollbackAll() {
    if (OnRollback) {
        try {
            OnRollback(*this);
        } catch (...) {
        }
    }
    for (auto& item : FItems) {
        try {
            item->Rollback();
        } catch (...) {
        }
    }
}

void TInstaller::InstallAll() {
    for (auto& item : FItems)
        DoInstallItem(*item);
    CommitAll();
}

void TInstaller::RemoveAll() {
    for (auto& item : FItems)
        DoRemoveItem(*item);
    CommitAll();
}

// ---- TPathInstaller

TPathInstaller::TPathInstaller(const QString& path) {
    TV_ASSERT(!path.isEmpty());
    FPath = QFileInfo(path).absoluteFilePath();
    // Every item has its own staging name, also when two share a file name.
    const QString unique = QUuid::createUuid().toString(QUuid::Id128).left(16);
    FStagingPath = QFileInfo(PathHelper().GetPath(TPathHelper::piTempData) + unique +
                             QLatin1Char('-') + QFileInfo(FPath).fileName())
                       .absoluteFilePath();
    TFileUtils::CreateDirectory(FStagingPath);
}

QString TPathInstaller::TargetFolder() const {
    return QFileInfo(FPath).path();
}

void TPathInstaller::DeleteStagingFile() {
    if (Exists(FStagingPath))
        TFileUtils::DeleteFile(FStagingPath);
}

void TPathInstaller::Commit() {
    DeleteStagingFile();
}

void TPathInstaller::Rollback() {
    DeleteStagingFile();
}

// ---- TFileInstaller

TFileInstaller::TFileInstaller(const QString& path)
    : TPathInstaller(path), FFileName(QFileInfo(Path()).fileName()) {}

TFileInstaller::TSystemMove TFileInstaller::SetSystemMove(TSystemMove move) {
    TSystemMove previous = SystemMove();
    SystemMove() = move ? std::move(move) : TSystemMove(DefaultSystemMove);
    return previous;
}

void TFileInstaller::DoProgress(const QString& message, int min, int max, int position) {
    if (OnProgress)
        OnProgress(*this, message, min, max, position);
}

void TFileInstaller::DoMoveProgress(qint64 total, qint64 done) {
    DoProgress(FixArticle(Format(QStringLiteral("A(z) %s mozgatása folyamatban."), {FFileName})), 0,
               int(quint32(total)), int(quint32(done)));
}

void TFileInstaller::MoveFile(const QString& source, const QString& dest) {
    for (int attempt = 1;; ++attempt) {
        const int code = SystemMove()(source, dest);
        if (code == 0) {
            SyncFolder(QFileInfo(dest).path());
            return;
        }
        if (code == EXDEV && !QFileInfo(source).isDir()) {
            // Another file system: copy next to the destination, then rename
            // over it, so the destination is never half written.
            QFile in(source);
            if (!in.open(QIODevice::ReadOnly))
                RaiseLastOSError(source);
            const QString temp = dest + QStringLiteral(".tvcopy");
            QFile out(temp);
            if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                RaiseLastOSError(temp);
            const qint64 total = in.size();
            qint64 done = 0;
            QByteArray buffer(65536, Qt::Uninitialized);
            for (;;) {
                const qint64 n = in.read(buffer.data(), buffer.size());
                if (n < 0 || (n > 0 && out.write(buffer.constData(), n) != n)) {
                    out.remove();
                    RaiseLastOSError(n < 0 ? source : temp);
                }
                if (n == 0)
                    break;
                done += n;
                DoMoveProgress(total, done);
            }
            out.setPermissions(in.permissions());
            ::fsync(out.handle());
            out.close();
            if (::rename(QFile::encodeName(temp).constData(),
                         QFile::encodeName(dest).constData()) != 0) {
                const int err = errno;
                QFile::remove(temp);
                RaiseLastOSError(dest, err);
            }
            in.close();
            QFile::remove(source);
            SyncFolder(QFileInfo(dest).path());
            return;
        }
        if (IsBusyError(code) && attempt < 3) {
            QThread::msleep(1000);
            continue;
        }
        RaiseLastOSError(source, code);
    }
}

// ---- TFileDeployer

TFileDeployer::TFileDeployer(const QString& path) : TFileInstaller(path) {}

std::unique_ptr<QIODevice> TFileDeployer::GetSourceStream() {
    std::unique_ptr<QIODevice> stream;
    if (OnGetSourceStream)
        OnGetSourceStream(*this, stream);
    return stream;
}

std::unique_ptr<TMeasuredFileStream> TFileDeployer::GetDestStream(const QString& fileName) {
    auto stream = std::make_unique<TMeasuredFileStream>(fileName, fmCreate);
    const QString message = FixArticle(
        Format(QStringLiteral("A(z) %s másolása folyamatban."), {QFileInfo(fileName).fileName()}));
    stream->OnWrite = [this, message](TMeasuredFileStream& s, qint64) {
        DoProgress(message, 0, int(quint32(s.WriteProgress().TotalBytes())), int(quint32(s.pos())));
    };
    return stream;
}

bool TFileDeployer::StageFile() {
    TFileUtils::CreateDirectory(Path());
    std::unique_ptr<QIODevice> source = GetSourceStream();
    if (!source)
        return false;
    // The source's file (the download) is removed once it has been copied.
    auto releaseSource = [&source] {
        QString sourceFile;
        if (auto* file = qobject_cast<QFile*>(source.get()))
            sourceFile = file->fileName();
        source.reset();
        if (!sourceFile.isEmpty() && QFile::exists(sourceFile))
            QFile::remove(sourceFile);
    };
    try {
        std::unique_ptr<TMeasuredFileStream> dest = GetDestStream(StagingPath());
        CopyStream(source.get(), dest.get(), 65536);
        // Programs keep working after the move: an executable image or a
        // script becomes executable.
        dest->seek(0);
        const QByteArray head = dest->read(4);
        if (head.startsWith("\x7f"
                            "ELF") ||
            head.startsWith("#!"))
            dest->setPermissions(dest->permissions() | QFile::ExeOwner | QFile::ExeGroup |
                                 QFile::ExeOther);
        dest->close();
    } catch (...) {
        releaseSource();
        throw;
    }
    releaseSource();
    return true;
}

void TFileDeployer::Install() {
    StageFile();
}

void TFileDeployer::Commit() {
    MoveFile(StagingPath(), Path());
    DeleteStagingFile();
}

// ---- TFileRemover

TFileRemover::TFileRemover(const QString& path) : TFileInstaller(path) {}

void TFileRemover::Remove() {
    if (Exists(Path()))
        MoveFile(Path(), StagingPath());
}

void TFileRemover::Rollback() {
    if (Exists(StagingPath()))
        MoveFile(StagingPath(), Path());
    DeleteStagingFile();
}

// ---- TCompressedFileDeployer

TCompressedFileDeployer::TCompressedFileDeployer(const QString& path)
    : TFileDeployer(path), FCompressed(TSevenZipArchive::IsCompressedFileName(path)) {}

void TCompressedFileDeployer::DoUnpackProgress(qint64 position, qint64 maximum) {
    DoProgress(
        FixArticle(Format(QStringLiteral("A(z) %s kitömörítése folyamatban."), {FileName()})), 0,
        int(quint32(maximum)), int(quint32(position)));
}

void TCompressedFileDeployer::Install() {
    StageFile();
    if (!FCompressed)
        return;
    const QString target = TargetFolder();
    if (QDir::cleanPath(target) == QLatin1String("/"))
        throw ECustom(QStringLiteral("Hibás csomag."),
                      FixArticle(Format(QStringLiteral("A(z) %s tömörített fájlnak nincs saját "
                                                       "mappája, nem lehet kibontani."),
                                        {FileName()})));
    FTempUncompressedPath = InstallerJournal::NewFolderOf(target);
    // A crash may have left an earlier unpack behind.
    RemoveFolder(FTempUncompressedPath);
    TFileUtils::CreateDirectory(FTempUncompressedPath + QLatin1Char('/'));
    try {
        TSevenZipArchive(StagingPath())
            .Extract(FTempUncompressedPath, [this](qint64 position, qint64 maximum) {
                DoUnpackProgress(position, maximum);
            });
    } catch (const EArchiveError& e) {
        throw ECustom(
            FixArticle(Format(QStringLiteral("A(z) %s kitömörítése nem sikerült."), {FileName()})),
            e.Message());
    }
}

void TCompressedFileDeployer::Commit() {
    if (!FCompressed) {
        TFileDeployer::Commit();
        return;
    }
    const QString target = TargetFolder();
    const QString oldFolder = InstallerJournal::OldFolderOf(target);
    if (Exists(FTempUncompressedPath)) {
        // Swap by renames; the journal lets the next start finish or undo it.
        RemoveFolder(oldFolder);
        WriteJournal(target, TJournalKind::Swap);
        Step("journal");
        if (Exists(target)) {
            RenameFolder(target, oldFolder);
            Step("aside");
        }
        RenameFolder(FTempUncompressedPath, target);
        Step("swapped");
        RemoveFolder(oldFolder);
        Step("deleted");
        RemoveJournal(target);
    }
    DeleteStagingFile();
}

void TCompressedFileDeployer::Rollback() {
    TFileDeployer::Rollback();
    if (!FCompressed || FTempUncompressedPath.isEmpty())
        return;
    const QString target = TargetFolder();
    // A swap that failed half-way is finished or undone like after a crash.
    if (QFile::exists(JournalFile(target)))
        RecoverTarget(target, TJournalKind::Swap);
    RemoveFolder(FTempUncompressedPath);
}

// ---- TCompressedFileRemover

TCompressedFileRemover::TCompressedFileRemover(const QString& path)
    : TFileRemover(path), FCompressed(TSevenZipArchive::IsCompressedFileName(path)) {
    if (FCompressed)
        FSetAsidePath = InstallerJournal::RemovedFolderOf(TargetFolder());
}

void TCompressedFileRemover::Remove() {
    if (!FCompressed) {
        TFileRemover::Remove();
        return;
    }
    const QString target = TargetFolder();
    if (QDir::cleanPath(target) == QLatin1String("/"))
        throw ECustom(QStringLiteral("Hibás csomag."),
                      FixArticle(Format(QStringLiteral("A(z) %s tömörített fájlnak nincs saját "
                                                       "mappája, nem lehet eltávolítani."),
                                        {FileName()})));
    if (!Exists(target))
        return;
    RemoveFolder(FSetAsidePath);
    WriteJournal(target, TJournalKind::RemovePrepared);
    RenameFolder(target, FSetAsidePath);
    FMovedAside = true;
}

void TCompressedFileRemover::Rollback() {
    TFileRemover::Rollback();
    if (!FCompressed)
        return;
    const QString target = TargetFolder();
    if (FMovedAside && Exists(FSetAsidePath) && !Exists(target))
        RenameFolder(FSetAsidePath, target);
    FMovedAside = false;
    if (QFile::exists(JournalFile(target)))
        RemoveJournal(target);
}

void TCompressedFileRemover::Commit() {
    DeleteStagingFile();
    if (!FCompressed || !FMovedAside)
        return;
    const QString target = TargetFolder();
    WriteJournal(target, TJournalKind::RemoveCommitted);
    RemoveFolder(FSetAsidePath);
    RemoveJournal(target);
    FMovedAside = false;
}
