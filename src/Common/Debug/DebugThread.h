#pragma once

// The debug thread of one supervised program: starts the program under the
// process-control layer, waits for its debug events one at a time, keeps the
// records of the process, its threads and its modules, decides how each
// exception is continued and raises one event per debug event. Every event
// is raised on this thread while the program is stopped.

#include "Common/Debug/DebugInfo.h"
#include "Common/Error/CustomException.h"

#include <QThread>

#include <atomic>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class TDebugExInfo;

class TDebugThread : public QThread {
public:
    class EDebugThread : public ECustom {
    public:
        using ECustom::ECustom;
        TV_EXCEPTION_RAISE(EDebugThread)
    };

    using TProcessEvent = std::function<void(TDebugThread* sender, TDebugProcessInfo& process)>;
    using TThreadEvent = std::function<void(TDebugThread* sender, TDebugThreadInfo& thread)>;
    using TExceptionEvent = std::function<void(TDebugThread* sender, TDebugExInfo& debugEx)>;
    using TStringEvent = std::function<void(TDebugThread* sender, const QString& message)>;
    using TRipEvent =
        std::function<void(TDebugThread* sender, uint32_t errorCode, const QString& errorMessage)>;
    using TLibraryEvent = std::function<void(TDebugThread* sender, TDebugLibraryInfo& library)>;
    // Shows an error of the loop; by default through ShowException.
    using TErrorPresenter = std::function<void(const std::exception& error)>;

    // The program file must exist (EDebugThread otherwise). The thread is
    // created suspended; Start (QThread::start) runs it once.
    explicit TDebugThread(const QString& fileName);
    ~TDebugThread() override;

    // Ends the program with exit code 0 while it is active; callable from
    // any thread. The loop then receives the usual exit events.
    void TerminateProcess();
    // Ends the program for good: also a program whose start is under way is
    // ended as soon as it has been created. Used when its owner goes away.
    void RequestClose();

    TDebugProcessInfo& Process() { return *FProcess; }
    const TDebugProcessInfo& Process() const { return *FProcess; }
    // The two tables: changed by this thread only; read them from an event
    // handler, after the thread has finished, or through the locked lookups.
    const std::map<uint64_t, std::unique_ptr<TDebugLibraryInfo>>& Libraries() const {
        return FLibraries;
    }
    const std::map<uint32_t, std::unique_ptr<TDebugThreadInfo>>& Threads() const {
        return FThreads;
    }
    // Locked lookups, safe from any thread.
    bool HasThread(uint32_t threadId) const;
    // The record of a thread, or none; the record itself stays valid only
    // while the thread lives (see Threads).
    TDebugThreadInfo* FindThread(uint32_t threadId) const;
    int ThreadCount() const;
    int LibraryCount() const;

    bool Finished() const { return isFinished(); }
    // An error that escaped the thread body, if any.
    std::exception_ptr FatalException() const { return FFatalException; }
    const QString& FileName() const { return FFileName; }

    TProcessEvent OnCreateProcess;
    TThreadEvent OnCreateThread;
    TExceptionEvent OnDebugException;
    TStringEvent OnDebugString;
    TRipEvent OnRIP;
    TLibraryEvent OnLoadDll;
    TProcessEvent OnExitProcess;
    TThreadEvent OnExitThread;
    TLibraryEvent OnUnloadDll;
    TErrorPresenter OnShowError;

    // Raises EDebugThread / the debugger's error for a missing program file.
    static const QString& MissingTitle();
    static const QString& MissingMessageFmt();

protected:
    void run() override;

private:
    uint32_t Dispatch(const TDebugEvent& event);
    void CreateProcess(const TDebugEvent& event);
    void CreateThread(uint32_t threadId, uint64_t threadHandle, uint64_t localBase);
    void ExitThread(uint32_t threadId, uint32_t exitCode);
    void ExitProcess(const TDebugEvent& event);
    void LoadDll(const TDebugEvent& event);
    void UnloadDll(const TDebugEvent& event);
    void DebugString(const TDebugEvent& event);
    void Rip(const TDebugEvent& event);
    uint32_t Exception(const TDebugEvent& event);
    void ReportException(const TDebugEvent& event);
    QString ReadModuleName(const TDebugEvent& event);
    void ShowError(const std::exception& error);
    void ShowCurrentError();

    std::unique_ptr<IProcessControl> FControl;
    mutable std::mutex FTablesLock;
    std::map<uint64_t, std::unique_ptr<TDebugLibraryInfo>> FLibraries;
    std::map<uint32_t, std::unique_ptr<TDebugThreadInfo>> FThreads;
    std::unique_ptr<TDebugProcessInfo> FProcess;
    QString FFileName;
    bool FFirstBreakPoint = true;
    bool FSymInitialized = false;
    std::atomic<bool> FCloseRequested{false};
    std::exception_ptr FFatalException;
};
