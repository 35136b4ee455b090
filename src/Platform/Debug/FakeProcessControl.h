#pragma once

// A process-control layer that replays scripted debug events: the debug
// loop's decisions and records are exercised without a real debuggee. The
// script and what the loop did with it live in a shared TFakeDebuggee, which
// the test keeps after the layer has been handed to a debug thread.

#include "Platform/Debug/ProcessControl.h"

#include <QHash>
#include <QMap>

#include <condition_variable>
#include <deque>
#include <mutex>

struct TFakeContinue {
    uint32_t ProcessId = 0;
    uint32_t ThreadId = 0;
    uint32_t EventCode = 0;
    uint32_t ExceptionCode = 0;
    uint32_t Status = 0;
};

class TFakeDebuggee {
public:
    // ---- the script (set before the loop starts, or appended while it runs)
    void Append(const TDebugEvent& event);
    void SetMemory(uint64_t address, const QByteArray& bytes);
    void SetStack(uint32_t threadId, const QList<uint64_t>& addresses);
    void SetDebugString(uint64_t data, const QString& text);
    void SetRegion(const TMemoryRegionInfo& region);
    bool FFailCreate = false;
    bool FFailSymInitialize = false;
    uint32_t FProcessId = 100;

    // ---- what the loop did
    QString StartedFile() const;
    QList<TFakeContinue> Continues() const;
    int DebugStringReads() const;
    int SymInitializeCalls() const;
    int SymRefreshCalls() const;
    int SymCleanupCalls() const;
    bool TerminateCalled() const;
    // Waits until the loop has continued that many events (or the time-out).
    bool WaitForContinues(int count, int timeoutMs = 5000) const;

    // ---- event builders
    static TDebugEvent CreateProcess(uint32_t pid, uint32_t tid, uint64_t imageBase);
    static TDebugEvent CreateThread(uint32_t pid, uint32_t tid, uint64_t localBase);
    static TDebugEvent ExitThread(uint32_t pid, uint32_t tid, uint32_t exitCode);
    static TDebugEvent ExitProcess(uint32_t pid, uint32_t tid, uint32_t exitCode);
    static TDebugEvent LoadDll(uint32_t pid, uint32_t tid, uint64_t base, uint64_t imageName);
    static TDebugEvent UnloadDll(uint32_t pid, uint32_t tid, uint64_t base);
    static TDebugEvent DebugString(uint32_t pid, uint32_t tid, uint64_t data, uint32_t length);
    static TDebugEvent Exception(uint32_t pid, uint32_t tid, uint32_t code,
                                 const QList<uint64_t>& parameters = {}, uint64_t address = 0);
    static TDebugEvent Rip(uint32_t pid, uint32_t tid, uint32_t error);

private:
    friend class TFakeProcessControl;
    mutable std::mutex FLock;
    mutable std::condition_variable FChanged;
    std::deque<TDebugEvent> FEvents;
    QMap<uint64_t, QByteArray> FMemory;
    QHash<uint32_t, QList<uint64_t>> FStacks;
    QHash<uint64_t, QString> FDebugStrings;
    QList<TMemoryRegionInfo> FRegions;
    QString FStartedFile;
    QList<TFakeContinue> FContinues;
    int FDebugStringReads = 0;
    int FSymInitializeCalls = 0;
    int FSymRefreshCalls = 0;
    int FSymCleanupCalls = 0;
    bool FTerminateCalled = false;
    bool FExited = false;
    uint32_t FMainThreadId = 0;
};

class TFakeProcessControl : public IProcessControl {
public:
    explicit TFakeProcessControl(std::shared_ptr<TFakeDebuggee> debuggee);

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
    std::shared_ptr<TFakeDebuggee> FDebuggee;
    TDebugEvent FCurrent;
};
