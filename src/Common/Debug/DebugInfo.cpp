#include "Common/Debug/DebugInfo.h"

#include "Platform/Runtime/Exception.h"

#include <QFileInfo>

QString TDebugProcessInfo::MapFileName(const QString& fileName) {
    const QFileInfo info(fileName);
    const QString name = info.fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? name.left(dot) : name;
    const QString folder = fileName.left(fileName.size() - name.size());
    return folder + base + QStringLiteral(".map");
}

TDebugProcessInfo::TDebugProcessInfo(const QString& fileName, IProcessControl* control)
    : FFileName(fileName), FControl(control) {
    TV_ASSERT(!fileName.isEmpty());
    FMap = std::make_unique<TMapFile>(MapFileName(fileName), fileName);
}

void TDebugProcessInfo::Start(uint64_t handle, uint32_t id, uint32_t mainThreadId, uint64_t base) {
    TV_ASSERT(handle != 0);
    TV_ASSERT(id != 0);
    TV_ASSERT(base != 0);
    FHandle = handle;
    FId = id;
    FMainThreadId = mainThreadId;
    FBase = base;
    FExitCode = NoExitCode;
    FActive = true;
}

void TDebugProcessInfo::Terminate(uint32_t exitCode) {
    FActive = false;
    FExitCode = exitCode;
    FHandle = 0;
    FBase = 0;
}

bool TDebugProcessInfo::GetLocationInfo(uint64_t address, TLocationInfo& info) const {
    // ELF images have no separate code-section offset: map and line table
    // addresses are relative to the load base itself.
    const uint64_t relative = address - FBase;
    TMapLocation location;
    const bool found = FBase != 0 && address >= FBase && FMap->Lookup(relative, location);
    info = TLocationInfo();
    if (found) {
        info.Address = address;
        info.UnitName = location.UnitName;
        info.ProcedureName = location.ProcedureName;
        info.OffsetFromProcName = location.OffsetFromProcName;
        info.LineNumber = location.LineNumber;
        info.OffsetFromLineNumber = location.OffsetFromLineNumber;
        info.SourceName = location.SourceName;
    }
    info.DebugInfo = nullptr;
    info.BinaryFileName = FFileName;
    return found;
}

TDebugThreadInfo::TDebugThreadInfo(uint64_t handle, uint64_t processHandle, uint32_t id,
                                   uint64_t base, IProcessControl* control)
    : FBase(base), FThreadHandle(handle), FProcessHandle(processHandle), FId(id),
      FControl(control) {
    TV_ASSERT(handle != 0);
    TV_ASSERT(id != 0);
    TV_ASSERT(base != 0);
}

void TDebugThreadInfo::Terminate(uint32_t exitCode) {
    FActive = false;
    FExitCode = exitCode;
    FBase = 0;
    FThreadHandle = 0;
}

QList<uint64_t> TDebugThreadInfo::GetStackTrace() const {
    if (FControl == nullptr)
        return {};
    return FControl->GetStackTrace(FId);
}

TDebugLibraryInfo::TDebugLibraryInfo(const QString& fileName, uint64_t base)
    : FFileName(fileName), FBase(base) {
    TV_ASSERT(!fileName.isEmpty());
    TV_ASSERT(base != 0);
}
