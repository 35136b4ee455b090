#pragma once

// The process-control layer on Linux (x86-64): ptrace for the debuggee's
// stops, the dynamic linker's rendezvous for module loads and unloads, a
// breakpoint on the C++ runtime's throw for language exceptions, the
// debuggee's standard error as its debug output, libdw for stack walks.

#include "Platform/Debug/ProcessControl.h"

#include <QHash>
#include <QMap>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <sys/types.h>
#include <thread>

struct Dwfl;

// The address of a symbol in an ELF file's symbol tables (its link-time
// value), or 0 when the file or the symbol is missing.
uint64_t FindElfSymbol(const QString& fileName, const char* symbol);

class TPtraceProcessControl : public IProcessControl {
public:
    TPtraceProcessControl();
    ~TPtraceProcessControl() override;
    TPtraceProcessControl(const TPtraceProcessControl&) = delete;
    TPtraceProcessControl& operator=(const TPtraceProcessControl&) = delete;

    void CreateProcess(const QString& fileName) override;
    void WaitForDebugEvent(TDebugEvent& event) override;
    void ContinueDebugEvent(uint32_t processId, uint32_t threadId, uint32_t status) override;
    QByteArray ReadProcessMemory(uint64_t address, int size) override;
    QString ReadDebugString(const TDebugEvent& event) override;
    void TerminateProcess(uint32_t exitCode) override;
    QString SystemErrorMessage(uint32_t errorCode) override;
    TMemoryRegionInfo QueryMemory(uint64_t address) override;
    void SymInitialize() override;
    void SymRefreshModuleList() override;
    void SymCleanup() override;
    QList<uint64_t> GetStackTrace(uint32_t threadId) override;

private:
    // What to do with the stopped thread when the event is continued.
    struct TResume {
        enum Kind { rkNone, rkContinue, rkStepOver, rkContinueTwo };
        Kind FKind = rkNone;
        pid_t FTid = 0;
        pid_t FOtherTid = 0;
        int FSignalNotHandled = 0; // delivered on DBG_EXCEPTION_NOT_HANDLED
        uint64_t FBreakpoint = 0;
    };
    struct TPending {
        TDebugEvent FEvent;
        TResume FResume;
    };
    enum TBreakpointKind { bkEntry, bkRendezvous, bkThrow, bkBeginCatch };
    struct TBreakpoint {
        uint64_t FAddress = 0;
        uint8_t FSaved = 0;
        TBreakpointKind FKind = bkEntry;
    };
    struct TInFlight {
        uint64_t FCaller = 0;
        uint64_t FObject = 0;
        uint64_t FType = 0;
    };
    struct TThreadState {
        bool FExitReported = false;
        bool FHasInFlight = false;
        TInFlight FInFlight;
    };

    void HandleStatus(pid_t tid, int status);
    void HandleExecStop();
    void HandleBreakpoint(pid_t tid, const TBreakpoint& bp, uint64_t rip);
    void HandleSignal(pid_t tid, int signal);
    void AddThread(pid_t tid, const TResume& resume);
    // A process forked by the debuggee is not supervised: it gets back the
    // bytes under our breakpoints and is let go.
    void ReleaseChild(pid_t child, bool sharesMemory);
    bool IsOurThread(pid_t tid) const;
    void Push(const TDebugEvent& event, const TResume& resume);
    void Push(const TDebugEvent& event);
    TDebugEvent NewEvent(uint32_t code, pid_t tid) const;
    // The language exception event of a C++ throw (thrown object, its type, the throwing caller).
    TDebugEvent LanguageExceptionEvent(pid_t tid, const TInFlight& flight, bool firstChance) const;
    void Resume(const TResume& resume, uint32_t status);
    void ContinueThread(pid_t tid, int signal);
    void StepOver(pid_t tid, uint64_t address, int signal);
    void InsertBreakpoint(pid_t tid, uint64_t address, TBreakpointKind kind);
    void RemoveBreakpoint(pid_t tid, uint64_t address);
    uint64_t PeekWord(pid_t tid, uint64_t address);
    void PokeWord(pid_t tid, uint64_t address, uint64_t value);
    uint64_t ReadWord(uint64_t address);
    void InitRendezvous(pid_t tid);
    // Compares the dynamic linker's module list with the known modules and
    // queues load and unload events. Answers how many were queued.
    int SyncModules(pid_t tid);
    void WatchRuntime(pid_t tid, const QString& fileName, uint64_t base);
    uint64_t ImageBaseOf(const QString& realPath) const;
    void StartReader(int fd);
    void StopReader();
    void ReaderBody();
    void DrainDebugOutput(int waitMs);
    bool TakeDebugLine(QString& line);

    QString FFileName;
    QString FRealPath;
    pid_t FPid = 0;
    int FPidFd = -1;
    std::mutex FKillLock;
    bool FExited = false;
    std::atomic<bool> FTerminateRequested{false};
    uint32_t FTerminateExitCode = 0;
    int FLeaderExitStatus = -1;
    uint64_t FImageBase = 0;
    uint64_t FRDebug = 0;

    std::map<pid_t, TThreadState> FThreads;
    std::set<pid_t> FReleasedChildren;
    std::deque<TPending> FPending;
    std::deque<std::pair<pid_t, int>> FDeferred;
    bool FHasCurrent = false;
    TPending FCurrent;
    std::map<uint64_t, TBreakpoint> FBreakpoints;
    std::map<uint64_t, uint64_t> FModules; // base -> address of its name pointer
    bool FRuntimeWatched = false;
    uint64_t FRuntimeStart = 0;
    uint64_t FRuntimeEnd = 0;
    uint64_t FNextText = 1;
    QHash<uint64_t, QString> FDebugTexts;

    // Debug output: the reader thread collects the lines of the debuggee's
    // standard error and wakes the waiting loop.
    std::thread FReader;
    int FReaderFd = -1;
    int FStopPipe[2] = {-1, -1};
    std::mutex FLinesLock;
    std::condition_variable FLinesChanged;
    std::deque<QString> FLines;
    bool FReaderEof = true;
    bool FInWait = false;
    pthread_t FWaiter{};

    Dwfl* FDwfl = nullptr;
    bool FModulesChanged = true;
};
