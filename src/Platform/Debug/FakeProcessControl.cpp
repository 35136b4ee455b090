#include "Platform/Debug/FakeProcessControl.h"

#include "Platform/Runtime/Exception.h"

#include <cerrno>

using namespace DebugApi;

void TFakeDebuggee::Append(const TDebugEvent& event) {
    std::lock_guard<std::mutex> guard(FLock);
    FEvents.push_back(event);
    FChanged.notify_all();
}

void TFakeDebuggee::SetMemory(uint64_t address, const QByteArray& bytes) {
    std::lock_guard<std::mutex> guard(FLock);
    FMemory.insert(address, bytes);
}

void TFakeDebuggee::SetStack(uint32_t threadId, const QList<uint64_t>& addresses) {
    std::lock_guard<std::mutex> guard(FLock);
    FStacks.insert(threadId, addresses);
}

void TFakeDebuggee::SetDebugString(uint64_t data, const QString& text) {
    std::lock_guard<std::mutex> guard(FLock);
    FDebugStrings.insert(data, text);
}

void TFakeDebuggee::SetRegion(const TMemoryRegionInfo& region) {
    std::lock_guard<std::mutex> guard(FLock);
    FRegions.append(region);
}

QString TFakeDebuggee::StartedFile() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FStartedFile;
}

QList<TFakeContinue> TFakeDebuggee::Continues() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FContinues;
}

int TFakeDebuggee::DebugStringReads() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FDebugStringReads;
}

int TFakeDebuggee::SymInitializeCalls() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FSymInitializeCalls;
}

int TFakeDebuggee::SymRefreshCalls() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FSymRefreshCalls;
}

int TFakeDebuggee::SymCleanupCalls() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FSymCleanupCalls;
}

bool TFakeDebuggee::TerminateCalled() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FTerminateCalled;
}

bool TFakeDebuggee::WaitForContinues(int count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return FContinues.size() >= count; });
}

namespace {

TDebugEvent NewEvent(uint32_t code, uint32_t pid, uint32_t tid) {
    TDebugEvent e;
    e.DebugEventCode = code;
    e.ProcessId = pid;
    e.ThreadId = tid;
    return e;
}

} // namespace

TDebugEvent TFakeDebuggee::CreateProcess(uint32_t pid, uint32_t tid, uint64_t imageBase) {
    TDebugEvent e = NewEvent(CREATE_PROCESS_DEBUG_EVENT, pid, tid);
    e.ProcessHandle = pid;
    e.ThreadHandle = tid;
    e.ImageBase = imageBase;
    e.ThreadLocalBase = 0x7000 + tid;
    return e;
}

TDebugEvent TFakeDebuggee::CreateThread(uint32_t pid, uint32_t tid, uint64_t localBase) {
    TDebugEvent e = NewEvent(CREATE_THREAD_DEBUG_EVENT, pid, tid);
    e.ThreadHandle = tid;
    e.ThreadLocalBase = localBase;
    return e;
}

TDebugEvent TFakeDebuggee::ExitThread(uint32_t pid, uint32_t tid, uint32_t exitCode) {
    TDebugEvent e = NewEvent(EXIT_THREAD_DEBUG_EVENT, pid, tid);
    e.ExitCode = exitCode;
    return e;
}

TDebugEvent TFakeDebuggee::ExitProcess(uint32_t pid, uint32_t tid, uint32_t exitCode) {
    TDebugEvent e = ExitThread(pid, tid, exitCode);
    e.DebugEventCode = EXIT_PROCESS_DEBUG_EVENT;
    return e;
}

TDebugEvent TFakeDebuggee::LoadDll(uint32_t pid, uint32_t tid, uint64_t base, uint64_t imageName) {
    TDebugEvent e = NewEvent(LOAD_DLL_DEBUG_EVENT, pid, tid);
    e.BaseOfDll = base;
    e.ImageName = imageName;
    return e;
}

TDebugEvent TFakeDebuggee::UnloadDll(uint32_t pid, uint32_t tid, uint64_t base) {
    TDebugEvent e = NewEvent(UNLOAD_DLL_DEBUG_EVENT, pid, tid);
    e.BaseOfDll = base;
    return e;
}

TDebugEvent TFakeDebuggee::DebugString(uint32_t pid, uint32_t tid, uint64_t data, uint32_t length) {
    TDebugEvent e = NewEvent(OUTPUT_DEBUG_STRING_EVENT, pid, tid);
    e.DebugStringData = data;
    e.DebugStringLength = length;
    return e;
}

TDebugEvent TFakeDebuggee::Exception(uint32_t pid, uint32_t tid, uint32_t code,
                                     const QList<uint64_t>& parameters, uint64_t address) {
    TDebugEvent e = NewEvent(EXCEPTION_DEBUG_EVENT, pid, tid);
    e.Exception.ExceptionCode = code;
    e.Exception.ExceptionAddress = address;
    e.Exception.NumberParameters = static_cast<uint32_t>(parameters.size());
    for (int i = 0; i < parameters.size() && i < EXCEPTION_MAXIMUM_PARAMETERS; ++i)
        e.Exception.ExceptionInformation[static_cast<size_t>(i)] = parameters[i];
    return e;
}

TDebugEvent TFakeDebuggee::Rip(uint32_t pid, uint32_t tid, uint32_t error) {
    TDebugEvent e = NewEvent(RIP_EVENT, pid, tid);
    e.RipError = error;
    return e;
}

// ---- the layer

TFakeProcessControl::TFakeProcessControl(std::shared_ptr<TFakeDebuggee> debuggee)
    : FDebuggee(std::move(debuggee)) {}

void TFakeProcessControl::CreateProcess(const QString& fileName) {
    std::lock_guard<std::mutex> guard(FDebuggee->FLock);
    if (FDebuggee->FFailCreate)
        throw EOSError(QStringLiteral("A program nem indítható."), ENOEXEC);
    FDebuggee->FStartedFile = fileName;
}

void TFakeProcessControl::WaitForDebugEvent(TDebugEvent& event) {
    std::unique_lock<std::mutex> lock(FDebuggee->FLock);
    FDebuggee->FChanged.wait(lock, [this] { return !FDebuggee->FEvents.empty(); });
    event = FDebuggee->FEvents.front();
    FDebuggee->FEvents.pop_front();
    if (event.DebugEventCode == CREATE_PROCESS_DEBUG_EVENT)
        FDebuggee->FMainThreadId = event.ThreadId;
    if (event.DebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
        FDebuggee->FExited = true;
    FCurrent = event;
}

void TFakeProcessControl::ContinueDebugEvent(uint32_t processId, uint32_t threadId,
                                             uint32_t status) {
    std::lock_guard<std::mutex> guard(FDebuggee->FLock);
    TFakeContinue c;
    c.ProcessId = processId;
    c.ThreadId = threadId;
    c.EventCode = FCurrent.DebugEventCode;
    c.ExceptionCode = FCurrent.Exception.ExceptionCode;
    c.Status = status;
    FDebuggee->FContinues.append(c);
    FDebuggee->FChanged.notify_all();
}

QByteArray TFakeProcessControl::ReadProcessMemory(uint64_t address, int size) {
    std::lock_guard<std::mutex> guard(FDebuggee->FLock);
    for (auto it = FDebuggee->FMemory.cbegin(); it != FDebuggee->FMemory.cend(); ++it) {
        if (address >= it.key() && address + static_cast<uint64_t>(size) <=
                                       it.key() + static_cast<uint64_t>(it.value().size()))
            return it.value().mid(static_cast<qsizetype>(address - it.key()), size);
    }
    throw EOSError(QStringLiteral("Érvénytelen memóriacím."), EFAULT);
}

QString TFakeProcessControl::ReadDebugString(const TDebugEvent& event) {
    std::lock_guard<std::mutex> guard(FDebuggee->FLock);
    ++FDebuggee->FDebugStringReads;
    return FDebuggee->FDebugStrings.value(event.DebugStringData);
}

void TFakeProcessControl::TerminateProcess(uint32_t exitCode) {
    std::lock_guard<std::mutex> guard(FDebuggee->FLock);
    FDebuggee->FTerminateCalled = true;
    if (FDebuggee->FExited)
        return;
    FDebuggee->FExited = true;
    FDebuggee->FEvents.push_back(
        TFakeDebuggee::ExitProcess(FDebuggee->FProcessId, FDebuggee->FMainThreadId, exitCode));
    FDebuggee->FChanged.notify_all();
}

QString TFakeProcessControl::SystemErrorMessage(uint32_t errorCode) {
    return QStringLiteral("Rendszerhiba %1").arg(errorCode);
}

TMemoryRegionInfo TFakeProcessControl::QueryMemory(uint64_t address) {
    std::lock_guard<std::mutex> guard(FDebuggee->FLock);
    for (const TMemoryRegionInfo& region : FDebuggee->FRegions)
        if (address >= region.Start && address < region.End)
            return region;
    return TMemoryRegionInfo();
}

void TFakeProcessControl::SymInitialize() {
    std::lock_guard<std::mutex> guard(FDebuggee->FLock);
    ++FDebuggee->FSymInitializeCalls;
    if (FDebuggee->FFailSymInitialize)
        throw EOSError(QStringLiteral("A szimbólumok nem tölthetők be."), EIO);
}

void TFakeProcessControl::SymRefreshModuleList() {
    std::lock_guard<std::mutex> guard(FDebuggee->FLock);
    ++FDebuggee->FSymRefreshCalls;
}

void TFakeProcessControl::SymCleanup() {
    std::lock_guard<std::mutex> guard(FDebuggee->FLock);
    ++FDebuggee->FSymCleanupCalls;
}

QList<uint64_t> TFakeProcessControl::GetStackTrace(uint32_t threadId) {
    std::lock_guard<std::mutex> guard(FDebuggee->FLock);
    return FDebuggee->FStacks.value(threadId);
}
