#pragma once

// File streams that show a small progress window while they are read or
// written, with the download and upload flavours of the server transfers.

#include "Common/Files/FileStreams.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>

class TProgressForm;

class TGUIFileStream : public TMeasuredFileStream {
    Q_OBJECT
public:
    // Progress that shows the window at the first counted transfer and hides
    // it when the total is reached.
    class TGUIFileStreamProgress : public TStreamProgress {
    public:
        explicit TGUIFileStreamProgress(TProgressForm* form) : FForm(form) {}
        void Start() override;
        void Finish() override;

    private:
        TProgressForm* FForm;
    };

    TGUIFileStream(const QString& fileName, unsigned mode);
    TGUIFileStream(const QString& fileName, unsigned mode, unsigned rights);
    ~TGUIFileStream() override;

    void InitializeRead(qint64 size) override;
    void InitializeWrite(qint64 size) override;

    // The window's texts.
    virtual QString GetCaption() const;
    virtual QString GetReadProgressText();
    virtual QString GetWriteProgressText();

    TProgressForm* Form() const { return FForm.get(); }
    QProgressBar* ProgressBar() const { return FProgressBar; }
    QLabel* ProgressLabel() const { return FProgressLabel; }

protected:
    std::unique_ptr<TStreamProgress> CreateReadProgress() override;
    std::unique_ptr<TStreamProgress> CreateWriteProgress() override;

    // The file-name part of the stream's file name.
    QString ShortFileName() const;
    // The values of a progress text: percentage, remaining time, remaining amount.
    static QVariantList ProgressArgs(const TStreamProgress& progress);

private:
    void CreateWindow();
    void DestroyWindow();
    void Initialize(TStreamProgress& progress, qint64 size, TTransferEvent& event, bool reading);

    std::unique_ptr<TProgressForm> FForm;
    QPointer<QProgressBar> FProgressBar;
    QPointer<QLabel> FProgressLabel;
    bool FCreatedOnMainThread = false;
    qint64 FBarDivisor = 1;
};

class TDownLoadFileStream : public TGUIFileStream {
    Q_OBJECT
public:
    using TGUIFileStream::TGUIFileStream;
    QString GetCaption() const override;
    QString GetWriteProgressText() override;
};

class TUploadFileStream : public TGUIFileStream {
    Q_OBJECT
public:
    using TGUIFileStream::TGUIFileStream;
    QString GetCaption() const override;
    QString GetReadProgressText() override;
};

// Makes the progress streams of CreateProgressFileStream show their windows.
void InstallGUIFileStreams();
