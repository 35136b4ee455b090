#include "Common/Files/Ui/GUIFileStream.h"

#include "Common/Util/StrUtilsEx.h"
#include "Common/Util/Ui/ProgressTasks.h"
#include "Platform/Runtime/MainThread.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QScreen>
#include <QTime>

#include <climits>
#include <cmath>

namespace {

// The locale's long time format without a time-zone part.
QString LongTimeText(double days) {
    const qint64 ms = qint64(std::llround(days * 86400000.0));
    const QTime time = QTime(0, 0).addMSecs(int(ms % 86400000));
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return QLocale::system().toString(time, format.trimmed());
}

} // namespace

// ---- TGUIFileStreamProgress

void TGUIFileStream::TGUIFileStreamProgress::Start() {
    TProgressForm* form = FForm;
    RunOnMainThread([form] {
        if (form != nullptr)
            form->show();
    });
    TStreamProgress::Start();
}

void TGUIFileStream::TGUIFileStreamProgress::Finish() {
    TStreamProgress::Finish();
    TProgressForm* form = FForm;
    RunOnMainThread([form] {
        if (form != nullptr)
            form->hide();
    });
}

// ---- TGUIFileStream

TGUIFileStream::TGUIFileStream(const QString& fileName, unsigned mode)
    : TGUIFileStream(fileName, mode, 0666) {}

TGUIFileStream::TGUIFileStream(const QString& fileName, unsigned mode, unsigned rights)
    : TMeasuredFileStream(fileName, TDeferOpen{}) {
    FCreatedOnMainThread = IsMainThread();
    CreateWindow();
    try {
        OpenFile(mode, rights);
    } catch (...) {
        DestroyWindow();
        throw;
    }
}

TGUIFileStream::~TGUIFileStream() {
    OnRead = nullptr;
    OnWrite = nullptr;
    DestroyWindow();
}

void TGUIFileStream::CreateWindow() {
    const bool modal = FCreatedOnMainThread;
    RunOnMainThread([this, modal] {
        TV_ASSERT(IsMainThread());
        FForm = TProgressForm::ShowProgress(QString(), QString(), modal, false);
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            FForm->move(area.right() + 1 - FForm->width() - 10,
                        area.bottom() + 1 - FForm->height() - 10);
        }
        FProgressBar = FForm->Frame()->ProgressBar;
        FProgressLabel = FForm->Frame()->ProgressLabel;
    });
}

void TGUIFileStream::DestroyWindow() {
    if (!FForm)
        return;
    RunOnMainThread([this] {
        FProgressBar = nullptr;
        FProgressLabel = nullptr;
        FForm.reset();
    });
}

std::unique_ptr<TMeasuredFileStream::TStreamProgress> TGUIFileStream::CreateReadProgress() {
    return std::make_unique<TGUIFileStreamProgress>(FForm.get());
}

std::unique_ptr<TMeasuredFileStream::TStreamProgress> TGUIFileStream::CreateWriteProgress() {
    return std::make_unique<TGUIFileStreamProgress>(FForm.get());
}

void TGUIFileStream::Initialize(TStreamProgress& progress, qint64 size, TTransferEvent& event,
                                bool reading) {
    if (!FForm)
        return;
    RunOnMainThread([&] {
        FForm->setWindowTitle(GetCaption());
        progress.SetTotalBytes(size);
        // The bar counts in 32 bits; larger files move it in coarser steps.
        FBarDivisor = size > INT_MAX ? size / INT_MAX + 1 : 1;
        if (FProgressBar) {
            FProgressBar->setMinimum(0);
            FProgressBar->setValue(0);
            FProgressBar->setMaximum(int(qMax<qint64>(size, 0) / FBarDivisor));
        }
    });
    event = [reading](TMeasuredFileStream& stream, qint64) {
        auto& self = static_cast<TGUIFileStream&>(stream);
        if (!self.FForm)
            return;
        RunOnMainThread([&self, reading] {
            TStreamProgress& p = reading ? self.ReadProgress() : self.WriteProgress();
            if (self.FProgressBar)
                self.FProgressBar->setValue(int(p.BytesTransfered() / self.FBarDivisor));
            if (self.FProgressLabel && p.IsStarted())
                self.FProgressLabel->setText(reading ? self.GetReadProgressText()
                                                     : self.GetWriteProgressText());
            QCoreApplication::processEvents();
        });
    };
}

void TGUIFileStream::InitializeRead(qint64 size) {
    Initialize(ReadProgress(), size, OnRead, true);
}

void TGUIFileStream::InitializeWrite(qint64 size) {
    Initialize(WriteProgress(), size, OnWrite, false);
}

QString TGUIFileStream::ShortFileName() const {
    return QFileInfo(fileName()).fileName();
}

QVariantList TGUIFileStream::ProgressArgs(const TStreamProgress& progress) {
    const qint64 total = progress.TotalBytes();
    const qint64 percent =
        total > 0
            ? qint64(std::nearbyint(100.0 / double(total) * double(progress.BytesTransfered())))
            : 0;
    const double remain = progress.IsStarted() ? progress.TimeRemain() : 0.0;
    return {QVariant(percent), QVariant(LongTimeText(remain)),
            QVariant(SizeToText(total - progress.BytesTransfered(), false))};
}

QString TGUIFileStream::GetCaption() const {
    return Format(QStringLiteral("A(z) %s fájl másolása"), {ShortFileName()});
}

QString TGUIFileStream::GetReadProgressText() {
    return Format(QStringLiteral("%d%% elkészült, a becsült hátralévő idő: %s (még hátra van %s)."),
                  ProgressArgs(ReadProgress()));
}

QString TGUIFileStream::GetWriteProgressText() {
    return Format(QStringLiteral("A másolás %d%%-a elkészült, a becsült hátralévő idő még %s "
                                 "(még hátra van %s)."),
                  ProgressArgs(WriteProgress()));
}

// ---- TDownLoadFileStream / TUploadFileStream

QString TDownLoadFileStream::GetCaption() const {
    return FixArticle(
        Format(QStringLiteral("A(z) %s fájl letöltése a szerverről"), {ShortFileName()}));
}

QString TDownLoadFileStream::GetWriteProgressText() {
    return Format(QStringLiteral("A letöltés %d%%-a elkészült, a becsült hátralévő idő még "
                                 "%s.\r\nMég hátra van %s."),
                  ProgressArgs(WriteProgress()));
}

QString TUploadFileStream::GetCaption() const {
    return FixArticle(
        Format(QStringLiteral("A(z) %s fájl feltöltése a szerverre"), {ShortFileName()}));
}

QString TUploadFileStream::GetReadProgressText() {
    return Format(QStringLiteral("A feltöltés %d%%-a elkészült, a becsült hátralévő idő még "
                                 "%s.\r\nMég hátra van %s."),
                  ProgressArgs(ReadProgress()));
}

void InstallGUIFileStreams() {
    SetFileStreamFactory([](TFileStreamKind kind, const QString& fileName,
                            unsigned mode) -> std::unique_ptr<TMeasuredFileStream> {
        switch (kind) {
        case fsDownload:
            return std::make_unique<TDownLoadFileStream>(fileName, mode);
        case fsUpload:
            return std::make_unique<TUploadFileStream>(fileName, mode);
        case fsCopy:
            break;
        }
        return std::make_unique<TGUIFileStream>(fileName, mode);
    });
}
