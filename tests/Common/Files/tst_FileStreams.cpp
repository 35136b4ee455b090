// ctest-label: unit
#include "Common/Files/FileStreams.h"
#include "Common/Files/FileUtils.h"
#include "Common/Util/StrUtilsEx.h"

#include <QBuffer>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A progress on a clock the test moves.
class TClockedProgress : public TMeasuredFileStream::TStreamProgress {
public:
    explicit TClockedProgress(QDateTime* clock) : FClock(clock) {}

protected:
    QDateTime Now() const override { return *FClock; }

private:
    QDateTime* FClock;
};

class TClockedStream : public TMeasuredFileStream {
public:
    TClockedStream(const QString& name, unsigned mode, QDateTime* clock)
        : TMeasuredFileStream(name, mode), FClock(clock) {}

protected:
    std::unique_ptr<TStreamProgress> CreateReadProgress() override {
        return std::make_unique<TClockedProgress>(FClock);
    }
    std::unique_ptr<TStreamProgress> CreateWriteProgress() override {
        return std::make_unique<TClockedProgress>(FClock);
    }

private:
    QDateTime* FClock;
};

QString WriteFile(const QString& name, const QByteArray& data) {
    QFile f(name);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(data);
    return name;
}

} // namespace

class TestFileStreams : public QObject {
    Q_OBJECT
    QTemporaryDir FDir;

    QString Path(const QString& name) const { return FDir.filePath(name); }

private slots:
    // Counting starts at the first transfer after a total was set, and the
    // progress finishes when the position reaches the total.
    void readMeasuredInBlocks() {
        const QString name = WriteFile(Path("20000.bin"), QByteArray(20000, 'x'));
        TMeasuredFileStream stream(name, fmOpenRead | fmShareDenyWrite);
        QList<qint64> calls;
        stream.OnRead = [&calls](TMeasuredFileStream&, qint64 count) { calls << count; };
        auto& p = stream.ReadProgress();
        QVERIFY(!p.IsStarted());
        p.SetTotalBytes(stream.size());
        QVERIFY(!p.IsStarted());
        QBuffer sink;
        sink.open(QIODevice::WriteOnly);
        char buf[16384];
        QCOMPARE(stream.read(buf, sizeof buf), qint64(16384));
        QVERIFY(p.IsStarted());
        QVERIFY(!p.IsFinished());
        QCOMPARE(p.BytesTransfered(), qint64(16384));
        QCOMPARE(stream.read(buf, sizeof buf), qint64(20000 - 16384));
        QCOMPARE(p.BytesTransfered(), qint64(20000));
        QVERIFY(p.IsFinished());
        QCOMPARE(p.BytesRemain(), qint64(0));
        QCOMPARE(stream.read(buf, sizeof buf), qint64(0));
        QCOMPARE(p.BytesTransfered(), qint64(20000));
        QVERIFY(p.IsFinished());
        QCOMPARE(calls, QList<qint64>({16384, 16384, 16384}));
        // The other direction was never touched.
        QVERIFY(!stream.WriteProgress().IsStarted());
    }

    void noTotalNeverCounts() {
        const QString name = WriteFile(Path("small.bin"), QByteArray(100, 'y'));
        TMeasuredFileStream stream(name, fmOpenRead);
        char buf[64];
        stream.read(buf, sizeof buf);
        QVERIFY(!stream.ReadProgress().IsStarted());
        QCOMPARE(stream.ReadProgress().BytesTransfered(), qint64(0));
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, stream.ReadProgress().BytesPerSecond());
    }

    void totalResetsOnlyWhenChanged() {
        TMeasuredFileStream::TStreamProgress p;
        p.SetTotalBytes(1000);
        p.Start();
        p.AddBytes(400);
        p.SetTotalBytes(1000);
        QVERIFY(p.IsStarted());
        QCOMPARE(p.BytesTransfered(), qint64(400));
        p.Finish();
        p.SetTotalBytes(2000);
        QVERIFY(!p.IsStarted());
        QVERIFY(!p.IsFinished());
        QCOMPARE(p.BytesTransfered(), qint64(0));
        QCOMPARE(p.TotalBytes(), qint64(2000));
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, p.AddBytes(1));
    }

    void rates_data() {
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<qint64>("done");
        QTest::addColumn<int>("rate");
        QTest::addColumn<double>("remainSeconds");
        QTest::newRow("within first second") << 999 << qint64(5000) << 0 << 0.0;
        QTest::newRow("whole seconds truncated") << 2999 << qint64(5000) << 2500 << 2.0;
        QTest::newRow("half rounds to even (down)") << 4000 << qint64(10) << 2 << 4995.0;
        QTest::newRow("half rounds to even (up)") << 2000 << qint64(7) << 4 << 2498.25;
    }
    void rates() {
        QFETCH(int, elapsedMs);
        QFETCH(qint64, done);
        QFETCH(int, rate);
        QFETCH(double, remainSeconds);
        QDateTime clock = QDateTime::currentDateTime();
        TClockedProgress p(&clock);
        p.SetTotalBytes(10000);
        p.Start();
        p.AddBytes(done);
        clock = clock.addMSecs(elapsedMs);
        QCOMPARE(p.BytesPerSecond(), rate);
        QCOMPARE(p.TimeRemain() * 86400.0, remainSeconds);
        QCOMPARE(p.TimeElapsed() * 86400000.0, double(elapsedMs));
    }

    // Writes are measured the same way; the copy writes from the start.
    void copyIntoMeasuredWriter() {
        QDateTime clock = QDateTime::currentDateTime();
        QByteArray data(70000, 'z');
        QBuffer source(&data);
        source.open(QIODevice::ReadOnly);
        source.seek(500);
        TClockedStream dest(Path("copy.bin"), fmCreate, &clock);
        dest.InitializeWrite(data.size());
        int calls = 0;
        dest.OnWrite = [&](TMeasuredFileStream&, qint64) {
            ++calls;
            clock = clock.addSecs(1);
        };
        CopyStream(&source, &dest, 32768);
        QCOMPARE(calls, 3);
        QCOMPARE(dest.size(), qint64(70000));
        QVERIFY(dest.WriteProgress().IsFinished());
        QCOMPARE(dest.WriteProgress().BytesTransfered(), qint64(70000));
        QCOMPARE(dest.WriteProgress().BytesPerSecond(), 23333);
    }

    void copyRejectsBadArguments() {
        QBuffer a, b;
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, CopyStream(nullptr, &b, 1));
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, CopyStream(&a, &b, 0));
    }

    void openFailuresAndSharing() {
        QVERIFY_THROWS_EXCEPTION(EFOpenError, TMeasuredFileStream(Path("missing.bin"), fmOpenRead));
        QVERIFY_THROWS_EXCEPTION(EFCreateError,
                                 TMeasuredFileStream(Path("no/such/dir/x.bin"), fmCreate));
        const QString name = WriteFile(Path("shared.bin"), "content");
        {
            TMeasuredFileStream reader1(name, fmOpenRead | fmShareDenyWrite);
            TMeasuredFileStream reader2(name, fmOpenRead | fmShareDenyWrite);
            QVERIFY_THROWS_EXCEPTION(EFOpenError,
                                     TMeasuredFileStream(name, fmOpenRead | fmShareExclusive));
            // Creating over a file others read must not empty it.
            QVERIFY_THROWS_EXCEPTION(EFCreateError, TMeasuredFileStream(name, fmCreate));
            QCOMPARE(QFileInfo(name).size(), qint64(7));
        }
        TMeasuredFileStream exclusive(name, fmOpenRead | fmShareExclusive);
        QVERIFY_THROWS_EXCEPTION(EFOpenError,
                                 TMeasuredFileStream(name, fmOpenRead | fmShareDenyWrite));
        TMeasuredFileStream anyone(name, fmOpenRead | fmShareDenyNone);
        QCOMPARE(anyone.readAll(), QByteArray("content"));
    }

    // ---- TFileUtils

    void createDirectory() {
        TFileUtils::CreateDirectory(Path("a/b/file.txt"));
        QVERIFY(QFileInfo(Path("a/b")).isDir());
        QVERIFY(!QFileInfo::exists(Path("a/b/file.txt")));
        TFileUtils::CreateDirectory(Path("c/d/"));
        QVERIFY(QFileInfo(Path("c/d")).isDir());
        QVERIFY_THROWS_EXCEPTION(EArgumentException, TFileUtils::CreateDirectory("  "));
        WriteFile(Path("plain"), "x");
        QVERIFY_THROWS_EXCEPTION(EOSError, TFileUtils::CreateDirectory(Path("plain/sub/")));
    }

    void deleteFile() {
        const QString name = WriteFile(Path("del.txt"), "x");
        TFileUtils::DeleteFile(name);
        QVERIFY(!QFileInfo::exists(name));
        QVERIFY_THROWS_EXCEPTION(EOSError, TFileUtils::DeleteFile(name));
    }

    void sizes() {
        QDir().mkpath(Path("sz"));
        WriteFile(Path("sz/one.dat"), QByteArray(1536, 'a'));
        QCOMPARE(TFileUtils::GetFileSize(Path("sz/one.dat")), qint64(1536));
        QCOMPARE(TFileUtils::GetFileSize(Path("sz/*.dat")), qint64(1536));
        QCOMPARE(TFileUtils::GetFileSize(Path("sz/none.dat")), qint64(-1));
        QCOMPARE(TFileUtils::FileSizeToString(Path("sz/one.dat")), SizeToText(1536));
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, TFileUtils::GetFileSize(QString()));
    }

    void fileVersion() {
        QCOMPARE(TFileUtils::GetFileVersion(WriteFile(Path("plain.txt"), "no version")), QString());
        const QString starter = QStringLiteral(TV_BINARY_DIR "/bin/TarvolinStarter");
        if (QFileInfo::exists(starter))
            QVERIFY(QRegularExpression("^\\d+\\.\\d+\\.\\d+\\.\\d+$")
                        .match(TFileUtils::GetFileVersion(starter))
                        .hasMatch());
        QVERIFY_THROWS_EXCEPTION(EOSError, TFileUtils::GetFileVersion(Path("missing.exe")));
    }

    void md5() {
        QCOMPARE(TFileUtils::GetMD5Checksum(WriteFile(Path("abc.txt"), "abc")),
                 QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
        QCOMPARE(TFileUtils::GetMD5Checksum(WriteFile(Path("empty.txt"), "")),
                 QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    }

    void lockedFiles() {
        const QString name = WriteFile(Path("locked.txt"), "x");
        QString msg;
        QVERIFY(!TFileUtils::IsFileLocked(name, msg));
        {
            TMeasuredFileStream holder(name, fmOpenRead | fmShareDenyWrite);
            QVERIFY(TFileUtils::IsFileLocked(name, msg));
            QVERIFY(msg.startsWith(
                QStringLiteral("A %1 fájlt nem lehet olvasásra megnyitni, mert ").arg(name)));
            QVERIFY(msg.endsWith('.'));
            try {
                TFileUtils::CheckFileLocked(name);
                QFAIL("not raised");
            } catch (const EFileLocked& e) {
                QCOMPARE(e.Title(),
                         QStringLiteral("A %1 fájlt nem lehet olvasásra megnyitni.").arg(name));
            }
        }
        QVERIFY(!TFileUtils::IsFileLocked(name, msg));
        QVERIFY(TFileUtils::IsFileLocked(Path("missing.txt"), msg));
    }

    void appendToTxtFile() {
        const QString name = WriteFile(Path("log.txt"), "first\n");
        TFileUtils::AppendToTxtFile(name, "második");
        QFile f(name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()), QStringLiteral("first\nmásodik\n"));
        QVERIFY_THROWS_EXCEPTION(EInOutError,
                                 TFileUtils::AppendToTxtFile(Path("missing.txt"), "x"));
    }

    void createFileFromStream() {
        QByteArray data(40000, 'q');
        QBuffer source(&data);
        source.open(QIODevice::ReadOnly);
        QVERIFY_THROWS_EXCEPTION(
            EFCreateError, TFileUtils::CreateFileFromStream(&source, Path("made/new.bin"), 1));
        WriteFile(Path("new.bin"), "old content that is longer than nothing");
        TFileUtils::CreateFileFromStream(&source, Path("new.bin"), data.size());
        QFile f(Path("new.bin"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), data);
    }
};

QTEST_GUILESS_MAIN(TestFileStreams)
#include "tst_FileStreams.moc"
