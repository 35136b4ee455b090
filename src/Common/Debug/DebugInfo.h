#pragma once

// Records of a supervised program kept by its debug thread: the process, its
// threads and its loaded modules.

#include "Platform/Debug/MapFile.h"
#include "Platform/Debug/ProcessControl.h"

#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

// Where an address of the program lies, from its map file.
struct TLocationInfo {
    uint64_t Address = 0; // 0 when not found
    QString UnitName;
    QString ProcedureName;
    int OffsetFromProcName = -1;
    int LineNumber = -1;
    int OffsetFromLineNumber = -1;
    QString SourceName;
    const void* DebugInfo = nullptr; // always none here
    QString BinaryFileName;
};

class TDebugProcessInfo {
public:
    static constexpr uint32_t NoExitCode = 0x7FFFFFFF;

    // Opens the map file beside the program (same name, ".map"). The
    // process-control layer, when given, serves memory and stack reads.
    explicit TDebugProcessInfo(const QString& fileName, IProcessControl* control = nullptr);
    TDebugProcessInfo(const TDebugProcessInfo&) = delete;
    TDebugProcessInfo& operator=(const TDebugProcessInfo&) = delete;

    void Start(uint64_t handle, uint32_t id, uint32_t mainThreadId, uint64_t base);
    void Terminate(uint32_t exitCode);
    // Looks an address of the program image up in the map file.
    bool GetLocationInfo(uint64_t address, TLocationInfo& info) const;

    const QString& FileName() const { return FFileName; }
    uint64_t Base() const { return FBase; }
    uint64_t Handle() const { return FHandle; }
    uint32_t Id() const { return FId; }
    const TMapFile& Map() const { return *FMap; }
    uint32_t ExitCode() const { return FExitCode; }
    bool Active() const { return FActive; }
    uint32_t MainThreadId() const { return FMainThreadId; }
    IProcessControl* Control() const { return FControl; }

    // The map file that belongs to a program file.
    static QString MapFileName(const QString& fileName);

private:
    QString FFileName;
    std::atomic<uint64_t> FBase{0};
    std::atomic<uint64_t> FHandle{0};
    std::atomic<uint32_t> FId{0};
    std::unique_ptr<TMapFile> FMap;
    std::atomic<uint32_t> FExitCode{NoExitCode};
    std::atomic<bool> FActive{false};
    std::atomic<uint32_t> FMainThreadId{0};
    IProcessControl* FControl;
};

class TDebugThreadInfo {
public:
    TDebugThreadInfo(uint64_t handle, uint64_t processHandle, uint32_t id, uint64_t base,
                     IProcessControl* control = nullptr);
    TDebugThreadInfo(const TDebugThreadInfo&) = delete;
    TDebugThreadInfo& operator=(const TDebugThreadInfo&) = delete;

    void Terminate(uint32_t exitCode);
    // The stopped thread's stack, innermost first.
    QList<uint64_t> GetStackTrace() const;

    uint64_t Base() const { return FBase; }
    uint64_t ThreadHandle() const { return FThreadHandle; }
    uint64_t ProcessHandle() const { return FProcessHandle; }
    uint32_t Id() const { return FId; }
    uint32_t ExitCode() const { return FExitCode; }
    bool Active() const { return FActive; }

private:
    uint64_t FBase;
    uint64_t FThreadHandle;
    uint64_t FProcessHandle;
    uint32_t FId;
    uint32_t FExitCode = TDebugProcessInfo::NoExitCode;
    bool FActive = true;
    IProcessControl* FControl;
};

class TDebugLibraryInfo {
public:
    TDebugLibraryInfo(const QString& fileName, uint64_t base);
    TDebugLibraryInfo(const TDebugLibraryInfo&) = delete;
    TDebugLibraryInfo& operator=(const TDebugLibraryInfo&) = delete;

    void Unload() { FLoaded = false; }

    const QString& FileName() const { return FFileName; }
    uint64_t Base() const { return FBase; }
    bool Loaded() const { return FLoaded; }

private:
    QString FFileName;
    uint64_t FBase;
    bool FLoaded = true;
};
