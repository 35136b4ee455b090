// ctest-label: gui
#include "Common/Files/Ui/GUIFileStream.h"
#include "Common/Util/StrUtilsEx.h"
#include "Common/Util/Ui/ProgressTasks.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

QString WriteFile(const QString& name, const QByteArray& data) {
    QFile f(name);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(data);
    return name;
}

int ProgressWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += qobject_cast<TProgressForm*>(w) != nullptr ? 1 : 0;
    return n;
}

} // namespace

class TestGUIFileStream : public QObject {
    Q_OBJECT
    QTemporaryDir FDir;

private slots:
    void captions_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("caption");
        QTest::newRow("copy keeps the marker") << int(fsCopy) << "alma.bin"
                                               << "A(z) alma.bin fájl másolása";
        QTest::newRow("download, vowel") << int(fsDownload) << "alma.bin"
                                         << "Az alma.bin fájl letöltése a szerverről";
        QTest::newRow("upload, consonant") << int(fsUpload) << "körte.bin"
                                           << "A körte.bin fájl feltöltése a szerverre";
    }
    void captions() {
        QFETCH(int, kind);
        QFETCH(QString, file);
        QFETCH(QString, caption);
        InstallGUIFileStreams();
        auto stream =
            CreateProgressFileStream(TFileStreamKind(kind), FDir.filePath(file), fmCreate);
        auto* gui = qobject_cast<TGUIFileStream*>(stream.get());
        QVERIFY(gui != nullptr);
        QCOMPARE(gui->GetCaption(), caption);
        stream->InitializeWrite(10);
        QCOMPARE(gui->Form()->windowTitle(), caption);
        SetFileStreamFactory(nullptr);
    }

    // An upload of 20 000 bytes in 16 KiB reads: the window appears at the
    // first read, shows 100% after the second and is hidden again.
    void uploadProgress() {
        const QString name = WriteFile(FDir.filePath("ticket.xml"), QByteArray(20000, 'x'));
        TUploadFileStream stream(name, fmOpenRead | fmShareDenyWrite);
        QVERIFY(stream.Form() != nullptr);
        QVERIFY(!stream.Form()->isVisible());
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(stream.Form()->x(), area.right() + 1 - stream.Form()->width() - 10);
        QCOMPARE(stream.Form()->y(), area.bottom() + 1 - stream.Form()->height() - 10);
        stream.InitializeRead(stream.size());
        QCOMPARE(stream.ProgressBar()->maximum(), 20000);
        char buf[16384];
        stream.read(buf, sizeof buf);
        QVERIFY(stream.Form()->isVisible());
        QCOMPARE(stream.ProgressBar()->value(), 16384);
        QVERIFY(stream.ProgressLabel()->text().startsWith("A feltöltés 82%-a elkészült"));
        stream.read(buf, sizeof buf);
        QVERIFY(!stream.Form()->isVisible());
        QCOMPARE(stream.ProgressBar()->value(), 20000);
        // Finished within the first second: no rate yet, so no time left.
        const QString zero = QLocale::system().toString(
            QTime(0, 0), QLocale::system().timeFormat(QLocale::LongFormat).remove('t').trimmed());
        QCOMPARE(stream.ProgressLabel()->text(),
                 QStringLiteral("A feltöltés 100%-a elkészült, a becsült hátralévő idő még %1."
                                "\r\nMég hátra van %2.")
                     .arg(zero, SizeToText(0)));
        stream.read(buf, sizeof buf);
        QCOMPARE(stream.ReadProgress().BytesTransfered(), qint64(20000));
    }

    void progressTexts() {
        const QString name = FDir.filePath("texts.bin");
        TDownLoadFileStream down(name, fmCreate);
        down.InitializeWrite(4096);
        down.write(QByteArray(1024, 'a'));
        QVERIFY(down.GetWriteProgressText().startsWith(
            "A letöltés 25%-a elkészült, a becsült hátralévő idő még "));
        QVERIFY(down.GetWriteProgressText().endsWith(
            QStringLiteral("\r\nMég hátra van %1.").arg(SizeToText(3072))));
        // The plain stream's read and write texts.
        TGUIFileStream copy(FDir.filePath("copy.bin"), fmCreate);
        copy.InitializeWrite(200);
        copy.write(QByteArray(1, 'a'));
        QVERIFY(copy.GetWriteProgressText().startsWith(
            "A másolás 0%-a elkészült, a becsült hátralévő idő még "));
        QVERIFY(copy.GetWriteProgressText().endsWith(
            QStringLiteral(" (még hátra van %1).").arg(SizeToText(199))));
        copy.seek(0);
        copy.InitializeRead(2);
        copy.read(1);
        QVERIFY(copy.GetReadProgressText().startsWith("50% elkészült, a becsült hátralévő idő: "));
    }

    // A stream used on a worker thread touches its window only on the main
    // thread, while the main thread keeps processing events.
    void workerThreadTransfer() {
        const QString name = FDir.filePath("worker.bin");
        std::atomic<bool> done{false};
        QString error;
        std::thread worker([&] {
            try {
                TDownLoadFileStream stream(name, fmCreate);
                stream.InitializeWrite(65536);
                for (int i = 0; i < 4; ++i)
                    stream.write(QByteArray(16384, 'w'));
                if (!stream.WriteProgress().IsFinished())
                    error = "not finished";
            } catch (const std::exception& e) {
                error = e.what();
            }
            done = true;
        });
        QVERIFY(QTest::qWaitFor([&] { return done.load(); }, 10000));
        worker.join();
        QCOMPARE(error, QString());
        QCOMPARE(QFileInfo(name).size(), qint64(65536));
        QCOMPARE(ProgressWindows(), 0);
    }

    void failedOpenLeavesNoWindow() {
        const int before = ProgressWindows();
        QVERIFY_THROWS_EXCEPTION(EFOpenError,
                                 TUploadFileStream(FDir.filePath("missing.bin"), fmOpenRead));
        QCOMPARE(ProgressWindows(), before);
    }
};

QTEST_MAIN(TestGUIFileStream)
#include "tst_GUIFileStream.moc"
