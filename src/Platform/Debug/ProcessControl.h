#pragma once

// The process-control layer under the debug loop: starts a program as a
// debuggee, delivers its debug events one at a time and keeps the reporting
// thread stopped until the event is continued. The kinds, codes and payloads
// are those of the classic debugging interface, so that the loop above does
// not depend on how a platform produces them.

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace DebugApi {

// Event kinds.
enum : uint32_t {
    EXCEPTION_DEBUG_EVENT = 1,
    CREATE_THREAD_DEBUG_EVENT = 2,
    CREATE_PROCESS_DEBUG_EVENT = 3,
    EXIT_THREAD_DEBUG_EVENT = 4,
    EXIT_PROCESS_DEBUG_EVENT = 5,
    LOAD_DLL_DEBUG_EVENT = 6,
    UNLOAD_DLL_DEBUG_EVENT = 7,
    OUTPUT_DEBUG_STRING_EVENT = 8,
    RIP_EVENT = 9,
};

// Continue statuses.
constexpr uint32_t DBG_CONTINUE = 0x00010002;
constexpr uint32_t DBG_EXCEPTION_NOT_HANDLED = 0x80010001;

// Exception codes.
constexpr uint32_t EXCEPTION_BREAKPOINT = 0x80000003;
constexpr uint32_t EXCEPTION_ACCESS_VIOLATION = 0xC0000005;
constexpr uint32_t EXCEPTION_ARRAY_BOUNDS_EXCEEDED = 0xC000008C;
constexpr uint32_t EXCEPTION_FLT_DENORMAL_OPERAND = 0xC000008D;
constexpr uint32_t EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008E;
constexpr uint32_t EXCEPTION_FLT_INEXACT_RESULT = 0xC000008F;
constexpr uint32_t EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090;
constexpr uint32_t EXCEPTION_FLT_OVERFLOW = 0xC0000091;
constexpr uint32_t EXCEPTION_FLT_STACK_CHECK = 0xC0000092;
constexpr uint32_t EXCEPTION_FLT_UNDERFLOW = 0xC0000093;
constexpr uint32_t EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;
constexpr uint32_t EXCEPTION_INT_OVERFLOW = 0xC0000095;
constexpr uint32_t EXCEPTION_PRIV_INSTRUCTION = 0xC0000096;
constexpr uint32_t EXCEPTION_STACK_OVERFLOW = 0xC00000FD;
constexpr uint32_t CONTROL_C_EXIT = 0xC000013A;
// The client's language runtime raises its own exceptions under this code;
// the codes after it up to 0x0EEDFAE5 are its notifications to a debugger.
constexpr uint32_t LANGUAGE_EXCEPTION = 0x0EEDFADE;
constexpr uint32_t LANGUAGE_NOTIFY_FIRST = 0x0EEDFADF;
constexpr uint32_t LANGUAGE_NOTIFY_LAST = 0x0EEDFAE5;

constexpr int EXCEPTION_MAXIMUM_PARAMETERS = 15;

} // namespace DebugApi

// The exception record of an exception event. For a language exception the
// parameters are: 0 the throwing code's return address, 1 the thrown
// object, 2 its type description. For an access violation: 0 the access kind
// (0 read, 1 write), 1 the inaccessible address.
struct TDebugExceptionRecord {
    uint32_t ExceptionCode = 0;
    uint32_t ExceptionFlags = 0;
    uint64_t ExceptionRecord = 0;
    uint64_t ExceptionAddress = 0;
    uint32_t NumberParameters = 0;
    std::array<uint64_t, DebugApi::EXCEPTION_MAXIMUM_PARAMETERS> ExceptionInformation{};
};

// One debug event. Every event carries the process and thread id; the other
// members are the payload of its kind. Addresses are 64 bits wide.
struct TDebugEvent {
    uint32_t DebugEventCode = 0;
    uint32_t ProcessId = 0;
    uint32_t ThreadId = 0;

    // EXCEPTION_DEBUG_EVENT
    TDebugExceptionRecord Exception;
    bool FirstChance = true;

    // CREATE_PROCESS_DEBUG_EVENT and CREATE_THREAD_DEBUG_EVENT
    uint64_t FileHandle = 0;
    uint64_t ProcessHandle = 0;
    uint64_t ThreadHandle = 0;
    uint64_t ImageBase = 0;
    uint64_t ThreadLocalBase = 0;
    uint64_t StartAddress = 0;

    // EXIT_THREAD_DEBUG_EVENT and EXIT_PROCESS_DEBUG_EVENT
    uint32_t ExitCode = 0;

    // LOAD_DLL_DEBUG_EVENT and UNLOAD_DLL_DEBUG_EVENT: the module's base, the
    // address in the debuggee of a pointer to its name, and whether the name
    // is UTF-16 (otherwise 8-bit characters, UTF-8).
    uint64_t BaseOfDll = 0;
    uint64_t ImageName = 0;
    bool Unicode = false;

    // OUTPUT_DEBUG_STRING_EVENT: where the text is, its length in characters
    // including the terminating zero and whether it is UTF-16. The text is
    // read with ReadDebugString.
    uint64_t DebugStringData = 0;
    uint32_t DebugStringLength = 0;

    // RIP_EVENT
    uint32_t RipError = 0;
    uint32_t RipType = 0;
};

// One memory region of the debuggee (VirtualQueryEx-like).
struct TMemoryRegionInfo {
    bool Committed = false;
    uint64_t Start = 0;
    uint64_t End = 0;
    // File of the module that owns the region; empty for anonymous memory.
    QString ModuleFileName;
};

// The operations the debug loop needs. All of them run on the thread that
// called CreateProcess, except TerminateProcess, which may be called from any
// thread. Failures raise EOSError with the system's text.
class IProcessControl {
public:
    virtual ~IProcessControl() = default;

    // Starts the program: its full path, no arguments, its folder as the
    // current folder, this process's environment.
    virtual void CreateProcess(const QString& fileName) = 0;
    // Waits without time-out for the next event.
    virtual void WaitForDebugEvent(TDebugEvent& event) = 0;
    // Resumes the debuggee after the event last delivered.
    virtual void ContinueDebugEvent(uint32_t processId, uint32_t threadId, uint32_t status) = 0;
    // Reads exactly size bytes of the debuggee's memory.
    virtual QByteArray ReadProcessMemory(uint64_t address, int size) = 0;
    // The text of an OUTPUT_DEBUG_STRING_EVENT.
    virtual QString ReadDebugString(const TDebugEvent& event) = 0;
    // Ends the debuggee with the exit code; does nothing once it has ended.
    virtual void TerminateProcess(uint32_t exitCode) = 0;
    // The system's message text for an error code.
    virtual QString SystemErrorMessage(uint32_t errorCode) = 0;
    // The region of the debuggee's memory that holds the address.
    virtual TMemoryRegionInfo QueryMemory(uint64_t address) = 0;

    // The symbol engine used by the stack walk.
    virtual void SymInitialize() = 0;
    virtual void SymRefreshModuleList() = 0;
    virtual void SymCleanup() = 0;
    // Addresses of the stopped thread's stack, innermost first: the program
    // counter where it stopped, then for every caller the address inside its
    // call instruction (return address minus one). Ends at an address
    // outside every known module.
    virtual QList<uint64_t> GetStackTrace(uint32_t threadId) = 0;
};

using TProcessControlFactory = std::function<std::unique_ptr<IProcessControl>()>;

// The layer of this platform (ptrace on Linux).
std::unique_ptr<IProcessControl> CreatePlatformProcessControl();
// The factory that debug threads use; tests install a fake. An empty factory
// restores the platform's layer. Answers the previous one.
TProcessControlFactory SetProcessControlFactory(TProcessControlFactory factory);
std::unique_ptr<IProcessControl> CreateProcessControl();
