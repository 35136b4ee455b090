#include "Common/Error/LocalExInfo.h"

#include "Common/Util/StrUtilsEx.h"

#include <QFileInfo>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <elfutils/libdwfl.h>
#include <execinfo.h>
#include <memory>
#include <mutex>
#include <typeinfo>
#include <unistd.h>

// The runtime's demangler (its header also declares the throw that this
// unit replaces, with attributes of its own).
// NOLINTNEXTLINE(bugprone-reserved-identifier): the runtime's own name
extern "C" char* __cxa_demangle(const char* mangled, char* buffer, size_t* length, int* status);

namespace {
std::atomic<bool> GRecording{false};

struct TRaiseTrace {
    std::array<void*, 64> FFrames{};
    int FCount = 0;
};
thread_local TRaiseTrace GLastTrace;

// Switched on with the unit, off when it is finalised.
struct TRecordingScope {
    TRecordingScope() { StartRaiseTraceRecording(); }
    ~TRecordingScope() { StopRaiseTraceRecording(); }
} GRecordingScope;

using TThrow = void (*)(void*, void*, void (*)(void*));

TThrow RealThrow() {
    static const TThrow real = reinterpret_cast<TThrow>(::dlsym(RTLD_NEXT, "__cxa_throw"));
    return real;
}

// This program's own debug information, opened once.
class TSelfSymbols {
public:
    static TSelfSymbols& Instance() {
        static TSelfSymbols symbols;
        return symbols;
    }
    std::mutex FLock;

    Dwfl* Refreshed() {
        if (FDwfl == nullptr) {
            static char* debugInfoPath = nullptr;
            static const Dwfl_Callbacks callbacks = {
                dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo, nullptr, &debugInfoPath};
            FDwfl = dwfl_begin(&callbacks);
            if (FDwfl == nullptr)
                return nullptr;
        }
        dwfl_report_begin(FDwfl);
        if (dwfl_linux_proc_report(FDwfl, ::getpid()) != 0 ||
            dwfl_report_end(FDwfl, nullptr, nullptr) != 0)
            return nullptr;
        return FDwfl;
    }
    ~TSelfSymbols() {
        if (FDwfl != nullptr)
            dwfl_end(FDwfl);
    }

private:
    Dwfl* FDwfl = nullptr;
};

QString Demangle(const char* name) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> text(
        __cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return QString::fromUtf8(status == 0 && text ? text.get() : name);
}

} // namespace

// Every throw of this program passes here first: the stack trace is kept for
// the thread, then the runtime's own throw runs.
// NOLINTNEXTLINE(bugprone-reserved-identifier): replaces the runtime's throw
extern "C" [[noreturn]] void __cxa_throw(void* object, void* type, void (*destructor)(void*)) {
    if (GRecording.load(std::memory_order_relaxed)) {
        TRaiseTrace& trace = GLastTrace;
        std::array<void*, 72> frames{};
        const int count = ::backtrace(frames.data(), static_cast<int>(frames.size()));
        // The trace starts at the throwing function: the frames before it
        // belong to this function (and to whatever wraps the unwinder).
        void* const thrower = __builtin_return_address(0);
        int first = 0;
        while (first < count && frames[static_cast<size_t>(first)] != thrower)
            ++first;
        if (first == count)
            first = count > 0 ? 1 : 0;
        trace.FCount = std::min(count - first, static_cast<int>(trace.FFrames.size()));
        for (int i = 0; i < trace.FCount; ++i)
            trace.FFrames[static_cast<size_t>(i)] =
                frames[static_cast<size_t>(first) + static_cast<size_t>(i)];
    }
    const TThrow real = RealThrow();
    if (real == nullptr)
        std::abort();
    real(object, type, destructor);
    std::abort(); // the runtime's throw does not return
}

void StartRaiseTraceRecording() {
    // Resolve the runtime's throw before the first error needs it.
    RealThrow();
    GRecording = true;
}

void StopRaiseTraceRecording() {
    GRecording = false;
}

bool IsRaiseTraceRecording() {
    return GRecording;
}

QList<uintptr_t> LastRaiseTrace() {
    QList<uintptr_t> result;
    const TRaiseTrace& trace = GLastTrace;
    for (int i = 0; i < trace.FCount; ++i)
        result.append(reinterpret_cast<uintptr_t>(trace.FFrames[static_cast<size_t>(i)]));
    return result;
}

void TLocalExInfo::CollectCallStack() {
    FCallStack.clear();
    if (!IsRaiseTraceRecording() || ErrorType() == etNone)
        return;
    const QList<uintptr_t> trace = LastRaiseTrace();
    if (trace.isEmpty())
        return;
    TSelfSymbols& symbols = TSelfSymbols::Instance();
    std::lock_guard<std::mutex> guard(symbols.FLock);
    Dwfl* dwfl = symbols.Refreshed();
    if (dwfl == nullptr)
        return;
    // Only with debug information for the program itself.
    Dwfl_Module* own = dwfl_addrmodule(dwfl, reinterpret_cast<Dwarf_Addr>(&__cxa_throw));
    Dwarf_Addr bias = 0;
    if (own == nullptr || dwfl_module_getdwarf(own, &bias) == nullptr)
        return;
    QStringList lines;
    for (int i = 0; i < trace.size(); ++i) {
        // A return address: the call lies just before it.
        const Dwarf_Addr address = trace[i] - 1;
        QString source;
        int line = 0;
        QString procedure;
        if (Dwfl_Module* module = dwfl_addrmodule(dwfl, address)) {
            if (const char* name = dwfl_module_addrname(module, address))
                procedure = Demangle(name);
            if (Dwfl_Line* record = dwfl_module_getsrc(module, address)) {
                int number = 0;
                if (const char* file =
                        dwfl_lineinfo(record, nullptr, &number, nullptr, nullptr, nullptr)) {
                    source = QFileInfo(QString::fromUtf8(file)).fileName();
                    line = number;
                }
            }
        }
        lines.append(Format(QStringLiteral("%.2d: %s (%u): %s"),
                            {QVariant(i), QVariant(source), QVariant(line), QVariant(procedure)}));
    }
    FCallStack = lines;
}
