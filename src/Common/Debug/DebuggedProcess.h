#pragma once

// One supervised client program as the rest of the starter sees it: owns the
// debug thread, logs every debug event, takes a screenshot when an exception
// is reported and hands every event to the main thread, where its handlers
// run while the program waits.

#include "Common/Debug/DebugExInfo.h"
#include "Common/Debug/DebugThread.h"
#include "Platform/Debug/X11Windows.h"

#include <QImage>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

class TDebuggedProcess {
public:
    using TProcessEvent = std::function<void(TDebuggedProcess* sender, TDebugProcessInfo& process)>;
    using TThreadEvent = std::function<void(TDebuggedProcess* sender, TDebugThreadInfo& thread)>;
    using TExceptionEvent = std::function<void(TDebuggedProcess* sender, TDebugExInfo& debugEx)>;
    using TStringEvent = std::function<void(TDebuggedProcess* sender, const QString& message)>;
    using TRipEvent = std::function<void(TDebuggedProcess* sender, uint32_t errorCode,
                                         const QString& errorMessage)>;
    using TLibraryEvent = std::function<void(TDebuggedProcess* sender, TDebugLibraryInfo& library)>;

    // Creates the debug thread, suspended (EDebugThread when the file is
    // missing).
    explicit TDebuggedProcess(const QString& fileName);
    // Ends a running program and waits for its debug thread. Hand-overs the
    // thread still has to make are dropped, so that the two never wait on
    // each other.
    ~TDebuggedProcess();
    TDebuggedProcess(const TDebuggedProcess&) = delete;
    TDebuggedProcess& operator=(const TDebuggedProcess&) = delete;

    // Starts the debug thread once; later calls do nothing.
    void Start();
    // Ends the program (exit code 0) while it is active.
    void Terminate();
    // From now on no event reaches this object's handlers; the log goes on.
    // Used when the object is about to go away.
    void CloseHandlers();
    void GetDebugLines(QStringList& lines) const;
    QStringList DebugLines() const;

    void RefreshTopWindow();
    void SetForegroundWindow();
    // Captures the client area of the top window; a failed capture leaves a
    // null (0 x 0) image and answers false.
    bool TakeScreenShot(QImage& image);

    bool IsRunning() const;
    uint32_t Id() const;
    // The record of the main thread, or none; valid on the debug thread and
    // in event handlers.
    TDebugThreadInfo* MainThread() const;
    TDebugProcessInfo& ProcessInfo() const { return FThread->Process(); }
    TWindowHandle TopWindow();
    const QString& FileName() const { return FFileName; }
    TDebugThread& Thread() const { return *FThread; }

    // Raised on the main thread.
    TThreadEvent OnCreateThread;
    TProcessEvent OnCreateProcess;
    TStringEvent OnDebugString;
    TRipEvent OnRIP;
    TExceptionEvent OnException;
    TLibraryEvent OnLoadDll;
    TProcessEvent OnExitProcess;
    TLibraryEvent OnUnloadDll;
    TThreadEvent OnExitThread;

private:
    struct THandOver;
    void AddLine(const QString& line);
    // Runs the work on the main thread and waits; dropped once closing.
    void HandOver(const std::function<void()>& work);
    void AttachHandlers();

    std::unique_ptr<TDebugThread> FThread;
    QStringList FDebugLines;
    mutable std::mutex FDebugLinesLock;
    QString FFileName;
    TWindowHandle FTopWindow = 0;
    std::shared_ptr<THandOver> FHandOver;
    bool FStarted = false;
};
