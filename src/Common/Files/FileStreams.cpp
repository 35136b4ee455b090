#include "Common/Files/FileStreams.h"

#include <QFileInfo>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <sys/file.h>
#include <vector>

// ---- TStreamProgress

void TMeasuredFileStream::TStreamProgress::Start() {
    FStarted = Now();
    FBytesTransfered = 0;
    FFinished = QDateTime();
}

void TMeasuredFileStream::TStreamProgress::Finish() {
    FFinished = Now();
}

void TMeasuredFileStream::TStreamProgress::Clear() {
    FBytesTransfered = 0;
    FTotalBytes = 0;
    FStarted = QDateTime();
    FFinished = QDateTime();
}

void TMeasuredFileStream::TStreamProgress::SetTotalBytes(qint64 value) {
    if (value == FTotalBytes)
        return;
    Clear();
    FTotalBytes = value;
}

qint32 TMeasuredFileStream::TStreamProgress::BytesPerSecond() const {
    TV_ASSERT(IsStarted());
    const qint64 seconds = FStarted.msecsTo(Now()) / 1000;
    if (seconds <= 0)
        return 0;
    // Rounded to the nearest integer, halves to even.
    return static_cast<qint32>(std::nearbyint(double(FBytesTransfered) / double(seconds)));
}

qint64 TMeasuredFileStream::TStreamProgress::BytesRemain() const {
    TV_ASSERT(IsStarted());
    return FTotalBytes - FBytesTransfered;
}

double TMeasuredFileStream::TStreamProgress::TimeElapsed() const {
    TV_ASSERT(IsStarted());
    return double(FStarted.msecsTo(Now())) / 86400000.0;
}

double TMeasuredFileStream::TStreamProgress::TimeRemain() const {
    const qint32 rate = BytesPerSecond();
    if (rate <= 0)
        return 0;
    return double(BytesRemain()) / double(rate) / 86400.0;
}

void TMeasuredFileStream::TStreamProgress::AddBytes(qint64 count) {
    TV_ASSERT(IsStarted());
    FBytesTransfered += count;
}

// ---- TMeasuredFileStream

namespace {

QFileDevice::Permissions PermissionsFromMode(unsigned rights) {
    QFileDevice::Permissions p;
    const std::pair<unsigned, QFileDevice::Permission> bits[] = {
        {0400, QFileDevice::ReadOwner},  {0200, QFileDevice::WriteOwner},
        {0100, QFileDevice::ExeOwner},   {0040, QFileDevice::ReadGroup},
        {0020, QFileDevice::WriteGroup}, {0010, QFileDevice::ExeGroup},
        {0004, QFileDevice::ReadOther},  {0002, QFileDevice::WriteOther},
        {0001, QFileDevice::ExeOther}};
    for (const auto& [bit, perm] : bits) {
        if ((rights & bit) != 0)
            p |= perm;
    }
    if ((rights & 0400) != 0)
        p |= QFileDevice::ReadUser;
    if ((rights & 0200) != 0)
        p |= QFileDevice::WriteUser;
    if ((rights & 0100) != 0)
        p |= QFileDevice::ExeUser;
    return p;
}

} // namespace

TMeasuredFileStream::TMeasuredFileStream(const QString& fileName, unsigned mode)
    : TMeasuredFileStream(fileName, mode, 0666) {}

TMeasuredFileStream::TMeasuredFileStream(const QString& fileName, unsigned mode, unsigned rights)
    : QFile(fileName) {
    OpenFile(mode, rights);
}

TMeasuredFileStream::TMeasuredFileStream(const QString& fileName, TDeferOpen) : QFile(fileName) {}

void TMeasuredFileStream::OpenFile(unsigned mode, unsigned rights) {
    const bool create = (mode & fmCreate) == fmCreate;
    const unsigned access = mode & 0x0003;
    unsigned share = mode & 0x00F0;
    if (create && share == 0)
        share = fmShareExclusive;
    QIODevice::OpenMode om = QIODevice::Unbuffered;
    if (create)
        om |= QIODevice::ReadWrite;
    else if (access == fmOpenWrite)
        om |= QIODevice::WriteOnly | QIODevice::ExistingOnly;
    else if (access == fmOpenReadWrite)
        om |= QIODevice::ReadWrite | QIODevice::ExistingOnly;
    else
        om |= QIODevice::ReadOnly;
    const QString name = fileName();
    auto fail = [&](const QString& reason) {
        if (isOpen())
            close();
        const QString text =
            QStringLiteral("Cannot %1 file \"%2\". %3")
                .arg(create ? QStringLiteral("create") : QStringLiteral("open"), name, reason);
        if (create)
            throw EFCreateError(text);
        throw EFOpenError(text);
    };
    const bool opened = create ? open(om, PermissionsFromMode(rights)) : open(om);
    if (!opened)
        fail(errorString());
    int lock = 0;
    if (share == fmShareExclusive)
        lock = LOCK_EX;
    else if (share == fmShareDenyWrite)
        lock = LOCK_SH;
    if (lock != 0 && ::flock(handle(), lock | LOCK_NB) != 0)
        fail(QString::fromLocal8Bit(std::strerror(errno)));
    // A created file is emptied only once it is ours.
    if (create && !resize(0))
        fail(errorString());
}

TMeasuredFileStream::~TMeasuredFileStream() {
    FReadProgress.reset();
    FWriteProgress.reset();
    close();
}

TMeasuredFileStream::TStreamProgress& TMeasuredFileStream::ReadProgress() {
    if (!FReadProgress)
        FReadProgress = CreateReadProgress();
    return *FReadProgress;
}

TMeasuredFileStream::TStreamProgress& TMeasuredFileStream::WriteProgress() {
    if (!FWriteProgress)
        FWriteProgress = CreateWriteProgress();
    return *FWriteProgress;
}

std::unique_ptr<TMeasuredFileStream::TStreamProgress> TMeasuredFileStream::CreateReadProgress() {
    return std::make_unique<TStreamProgress>();
}

std::unique_ptr<TMeasuredFileStream::TStreamProgress> TMeasuredFileStream::CreateWriteProgress() {
    return std::make_unique<TStreamProgress>();
}

void TMeasuredFileStream::InitializeRead(qint64 size) {
    ReadProgress().SetTotalBytes(size);
}

void TMeasuredFileStream::InitializeWrite(qint64 size) {
    WriteProgress().SetTotalBytes(size);
}

void TMeasuredFileStream::Measure(TStreamProgress& progress, qint64 done) {
    if (!progress.IsStarted())
        return;
    if (done > 0)
        progress.AddBytes(done);
    // QIODevice moves the position only after the call returns.
    if (pos() + qMax<qint64>(done, 0) >= progress.TotalBytes())
        progress.Finish();
}

qint64 TMeasuredFileStream::readData(char* data, qint64 maxSize) {
    TStreamProgress& progress = ReadProgress();
    if (!progress.IsStarted() && progress.TotalBytes() > 0)
        progress.Start();
    const qint64 result = QFile::readData(data, maxSize);
    Measure(progress, result);
    if (OnRead)
        OnRead(*this, maxSize);
    return result;
}

qint64 TMeasuredFileStream::writeData(const char* data, qint64 maxSize) {
    TStreamProgress& progress = WriteProgress();
    if (!progress.IsStarted() && progress.TotalBytes() > 0)
        progress.Start();
    const qint64 result = QFile::writeData(data, maxSize);
    Measure(progress, result);
    if (OnWrite)
        OnWrite(*this, maxSize);
    return result;
}

// ---- CopyStream

void CopyStream(QIODevice* source, QIODevice* dest, qint64 bufferSize) {
    TV_ASSERT(source != nullptr);
    TV_ASSERT(dest != nullptr);
    TV_ASSERT(bufferSize > 0);
    if (!source->isSequential())
        source->seek(0);
    if (!dest->isSequential())
        dest->seek(0);
    std::vector<char> buffer(static_cast<size_t>(bufferSize));
    for (;;) {
        const qint64 n = source->read(buffer.data(), bufferSize);
        if (n < 0)
            throw EReadError(QStringLiteral("Stream read error: %1").arg(source->errorString()));
        if (n == 0)
            break;
        if (dest->write(buffer.data(), n) != n)
            throw EWriteError(QStringLiteral("Stream write error: %1").arg(dest->errorString()));
    }
}

// ---- stream factory

namespace {

std::mutex& FactoryLock() {
    static std::mutex lock;
    return lock;
}

TFileStreamFactory& Factory() {
    static TFileStreamFactory factory;
    return factory;
}

} // namespace

TFileStreamFactory SetFileStreamFactory(TFileStreamFactory factory) {
    std::lock_guard<std::mutex> guard(FactoryLock());
    TFileStreamFactory old = std::move(Factory());
    Factory() = std::move(factory);
    return old;
}

std::unique_ptr<TMeasuredFileStream>
CreateProgressFileStream(TFileStreamKind kind, const QString& fileName, unsigned mode) {
    TFileStreamFactory factory;
    {
        std::lock_guard<std::mutex> guard(FactoryLock());
        factory = Factory();
    }
    if (factory)
        return factory(kind, fileName, mode);
    return std::make_unique<TMeasuredFileStream>(fileName, mode);
}
