#include "Common/Files/FileUtils.h"

#include "Common/Files/FileStreams.h"
#include "Common/Util/StrUtilsEx.h"
#include "Platform/Runtime/VersionNote.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMimeDatabase>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>

namespace {

// Closes a descriptor on every path.
class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

} // namespace

void TFileUtils::CreateDirectory(const QString& path) {
    if (path.trimmed().isEmpty())
        throw EArgumentException(QStringLiteral("Invalid characters in file name"));
    QString dir;
    if (path.endsWith(QLatin1Char('/')))
        dir = path.left(path.size() - 1);
    else
        dir = QFileInfo(path).path();
    if (dir.isEmpty() || QFileInfo(dir).isDir())
        return;
    if (!QDir().mkpath(dir)) {
        const int err = errno != 0 ? errno : EACCES;
        RaiseLastOSError(dir, err);
    }
}

void TFileUtils::ForceFileFolder(const QString& fileName) {
    const QString folder = QFileInfo(fileName).absolutePath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(folder.toStdString()), ec);
    if (ec)
        throw EOSError(QStringLiteral("%1: %2").arg(folder, QString::fromStdString(ec.message())),
                       ec.value());
}

void TFileUtils::DeleteFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (::unlink(name.constData()) == 0)
        return;
    const int err = errno;
    // A link to a folder goes as a link; a plain empty folder as a folder.
    QFileInfo info(path);
    if (err == EISDIR && info.isDir() && !info.isSymLink() && ::rmdir(name.constData()) == 0)
        return;
    RaiseLastOSError(path, err);
}

qint64 TFileUtils::GetFileSize(const QString& fileName) {
    TV_ASSERT(!fileName.isEmpty());
    QFileInfo info(fileName);
    if (fileName.contains(QLatin1Char('*')) || fileName.contains(QLatin1Char('?'))) {
        QDir dir = info.dir();
        const QFileInfoList list = dir.entryInfoList(
            {info.fileName()}, QDir::AllEntries | QDir::Hidden | QDir::System, QDir::Name);
        if (list.isEmpty())
            return -1;
        return list.first().size();
    }
    if (!info.exists())
        return -1;
    return info.size();
}

QString TFileUtils::FileSizeToString(const QString& fileName) {
    TV_ASSERT(!fileName.isEmpty());
    return SizeToText(GetFileSize(fileName), false);
}

QString TFileUtils::GetFileVersion(const QString& fileName) {
    TV_ASSERT(!fileName.isEmpty());
    const QByteArray name = QFile::encodeName(fileName);
    TFd fd(::open(name.constData(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        RaiseLastOSError(fileName, errno);
    return ReadFileVersionNote(fileName);
}

QString TFileUtils::GetMD5Checksum(const QString& fileName) {
    TMeasuredFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray buffer(65536, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n < 0)
            throw EReadError(QStringLiteral("Stream read error: %1").arg(file.errorString()));
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer.constData(), n));
    }
    return QString::fromLatin1(hash.result().toHex());
}

void TFileUtils::CreateFileFromStream(QIODevice* source, const QString& fileName, qint64 size) {
    std::unique_ptr<TMeasuredFileStream> dest =
        CreateProgressFileStream(fsCopy, fileName, fmCreate);
    dest->InitializeWrite(size);
    CopyStream(source, dest.get(), 32768);
    dest->close();
}

bool TFileUtils::IsFileLocked(const QString& fileName, QString& errorMsg) {
    try {
        CheckFileLocked(fileName);
    } catch (const EFileLocked& e) {
        errorMsg = e.Message();
        return true;
    }
    return false;
}

void TFileUtils::CheckFileLocked(const QString& fileName) {
    auto locked = [&fileName](const QString& reason) {
        EFileLocked error(
            Format(QStringLiteral("A %s fájlt nem lehet olvasásra megnyitni."), {fileName}),
            Format(QStringLiteral("A %s fájlt nem lehet olvasásra megnyitni, mert %s."),
                   {fileName, reason}));
        throw error;
    };
    const QByteArray name = QFile::encodeName(fileName);
    TFd fd(::open(name.constData(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        locked(QString::fromLocal8Bit(std::strerror(errno)));
    // Another process's lock of either kind (flock or a POSIX record lock)
    // keeps us from having the file to ourselves.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            locked(QStringLiteral("egy másik folyamat zárolja"));
        locked(QString::fromLocal8Bit(std::strerror(errno)));
    }
    ::flock(fd.Get(), LOCK_UN);
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd.Get(), F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK)
        locked(QStringLiteral("egy másik folyamat zárolja"));
}

void TFileUtils::AppendToTxtFile(const QString& fileName, const QString& line) {
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly |
                   QIODevice::Text))
        throw EInOutError(QStringLiteral("I/O error: %1").arg(file.errorString()));
    const QByteArray data = (line + QLatin1Char('\n')).toUtf8();
    if (file.write(data) != data.size() || !file.flush())
        throw EInOutError(QStringLiteral("I/O error: %1").arg(file.errorString()));
}

bool TFileUtils::LoadAssocIconForFile(const QString& fileName, QIcon* icon) {
    TV_ASSERT(!fileName.isEmpty());
    TV_ASSERT(icon != nullptr);
    if (QFileInfo(fileName).isDir())
        return false;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(fileName);
    QIcon found = QIcon::fromTheme(type.iconName());
    if (found.isNull())
        found = QIcon::fromTheme(type.genericIconName());
    *icon = found;
    return !found.isNull();
}
