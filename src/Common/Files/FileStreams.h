#pragma once

// File streams that measure their own transfer (bytes done, bytes per second,
// time left), and the stream-copy routine that feeds them.

#include "Common/Error/CustomException.h"
#include "Platform/Runtime/Exception.h"

#include <QDateTime>
#include <QFile>

#include <functional>
#include <memory>

// Opening modes of file streams: one access mode, optionally combined with
// one sharing mode. Sharing is kept with advisory locks (flock): deny-write
// takes a shared lock, exclusive an exclusive one.
enum TFileMode : unsigned {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00,
};

// A file that cannot be opened or created.
TV_DECLARE_EXCEPTION(EFOpenError, Exception);
TV_DECLARE_EXCEPTION(EFCreateError, Exception);
// A file that cannot be read or written.
TV_DECLARE_EXCEPTION(EReadError, Exception);
TV_DECLARE_EXCEPTION(EWriteError, Exception);

class TMeasuredFileStream : public QFile {
    Q_OBJECT
public:
    // Progress of one direction of a stream.
    class TStreamProgress {
    public:
        TStreamProgress() = default;
        virtual ~TStreamProgress() = default;
        TStreamProgress(const TStreamProgress&) = delete;
        TStreamProgress& operator=(const TStreamProgress&) = delete;

        virtual void Start();
        virtual void Finish();
        void Clear();

        qint64 BytesTransfered() const { return FBytesTransfered; }
        qint64 TotalBytes() const { return FTotalBytes; }
        // A different total restarts the measurement.
        void SetTotalBytes(qint64 value);
        const QDateTime& Started() const { return FStarted; }
        const QDateTime& Finished() const { return FFinished; }
        bool IsStarted() const { return FStarted.isValid(); }
        bool IsFinished() const { return FFinished.isValid(); }

        // The next three need a started progress.
        qint32 BytesPerSecond() const;
        qint64 BytesRemain() const;
        // Spans in days.
        double TimeElapsed() const;
        double TimeRemain() const;

        // Counts bytes; only after Start.
        void AddBytes(qint64 count);

    protected:
        // The clock of the measurement.
        virtual QDateTime Now() const { return QDateTime::currentDateTime(); }

    private:
        qint64 FBytesTransfered = 0;
        qint64 FTotalBytes = 0;
        QDateTime FStarted;
        QDateTime FFinished;
    };

    using TTransferEvent = std::function<void(TMeasuredFileStream& stream, qint64 count)>;

    // Opens the file (fmCreate, or an access mode with a sharing mode); raises
    // EFCreateError / EFOpenError with the system's reason when it cannot.
    TMeasuredFileStream(const QString& fileName, unsigned mode);
    TMeasuredFileStream(const QString& fileName, unsigned mode, unsigned rights);
    ~TMeasuredFileStream() override;

    TStreamProgress& ReadProgress();
    TStreamProgress& WriteProgress();

    // Prepares the stream for reading, resp. writing, ASize bytes. A plain
    // measured stream only sets the direction's total; the window-showing
    // streams also prepare their window.
    virtual void InitializeRead(qint64 size);
    virtual void InitializeWrite(qint64 size);

    // Called after every read or write with the stream and the count asked for.
    TTransferEvent OnRead;
    TTransferEvent OnWrite;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 maxSize) override;

    // Factories of the two progress objects (made at their first use).
    virtual std::unique_ptr<TStreamProgress> CreateReadProgress();
    virtual std::unique_ptr<TStreamProgress> CreateWriteProgress();

    // Opens the file; a constructor of a subclass that must prepare something
    // first passes deferOpen and calls it itself.
    struct TDeferOpen {};
    TMeasuredFileStream(const QString& fileName, TDeferOpen);
    void OpenFile(unsigned mode, unsigned rights);

private:
    void Measure(TStreamProgress& progress, qint64 done);

    std::unique_ptr<TStreamProgress> FReadProgress;
    std::unique_ptr<TStreamProgress> FWriteProgress;
};

// Copies ASource into ADest from the start of both, ABufferSize bytes at a
// time; read and write failures raise EReadError / EWriteError.
void CopyStream(QIODevice* source, QIODevice* dest, qint64 bufferSize);

// Which progress stream a caller wants; the user-interface layer installs a
// factory that makes the window-showing streams, without it measured streams
// are made.
enum TFileStreamKind { fsCopy, fsDownload, fsUpload };
using TFileStreamFactory = std::function<std::unique_ptr<TMeasuredFileStream>(
    TFileStreamKind kind, const QString& fileName, unsigned mode)>;
// Answers the previous factory.
TFileStreamFactory SetFileStreamFactory(TFileStreamFactory factory);
std::unique_ptr<TMeasuredFileStream>
CreateProgressFileStream(TFileStreamKind kind, const QString& fileName, unsigned mode);
