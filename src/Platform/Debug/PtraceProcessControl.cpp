#include "Platform/Debug/PtraceProcessControl.h"

#include "Platform/Runtime/Exception.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <elf.h>
#include <elfutils/libdwfl.h>
#include <fcntl.h>
#include <gelf.h>
#include <link.h>
#include <poll.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace DebugApi;

namespace {

// The signal that wakes the loop from its wait when debug output arrives.
int WakeSignal() {
    return SIGRTMIN + 6;
}

void NoOpHandler(int) {}

void InstallWakeHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = NoOpHandler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no restart: the wait returns with EINTR
        sigaction(WakeSignal(), &action, nullptr);
    });
}

// Signals that are part of a program's normal life: they reach the program
// without a report.
bool IsQuietSignal(int signal) {
    switch (signal) {
    case SIGCHLD:
    case SIGWINCH:
    case SIGURG:
    case SIGCONT:
    case SIGSTOP:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
    case SIGALRM:
    case SIGVTALRM:
    case SIGPROF:
    case SIGIO:
    case SIGUSR1:
    case SIGUSR2:
    case SIGPIPE:
        return true;
    default:
        return signal >= SIGRTMIN;
    }
}

uint32_t FpeCode(int siCode) {
    switch (siCode) {
    case FPE_INTDIV:
        return EXCEPTION_INT_DIVIDE_BY_ZERO;
    case FPE_INTOVF:
        return EXCEPTION_INT_OVERFLOW;
    case FPE_FLTDIV:
        return EXCEPTION_FLT_DIVIDE_BY_ZERO;
    case FPE_FLTOVF:
        return EXCEPTION_FLT_OVERFLOW;
    case FPE_FLTUND:
        return EXCEPTION_FLT_UNDERFLOW;
    case FPE_FLTRES:
        return EXCEPTION_FLT_INEXACT_RESULT;
    case FPE_FLTSUB:
        return EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
    default:
        return EXCEPTION_FLT_INVALID_OPERATION;
    }
}

struct TMapping {
    uint64_t FStart = 0;
    uint64_t FEnd = 0;
    QString FPerms;
    uint64_t FOffset = 0;
    QString FPath;
};

QList<TMapping> ReadMaps(pid_t pid) {
    QList<TMapping> result;
    QFile file(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 5)
            continue;
        const QList<QByteArray> range = parts[0].split('-');
        if (range.size() != 2)
            continue;
        TMapping m;
        m.FStart = range[0].toULongLong(nullptr, 16);
        m.FEnd = range[1].toULongLong(nullptr, 16);
        m.FPerms = QString::fromLatin1(parts[1]);
        m.FOffset = parts[2].toULongLong(nullptr, 16);
        if (parts.size() >= 6) {
            // The path is the rest of the line (it may contain spaces).
            const int at = line.indexOf(parts[5]);
            m.FPath = QString::fromUtf8(line.mid(at).trimmed());
        }
        result.append(m);
    }
    return result;
}

uint64_t AuxValue(pid_t pid, uint64_t type) {
    QFile file(QStringLiteral("/proc/%1/auxv").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray data = file.readAll();
    for (qsizetype at = 0; at + 16 <= data.size(); at += 16) {
        uint64_t pair[2];
        std::memcpy(pair, data.constData() + at, sizeof pair);
        if (pair[0] == type)
            return pair[1];
        if (pair[0] == AT_NULL)
            break;
    }
    return 0;
}

bool GetRegs(pid_t tid, user_regs_struct& regs) {
    return ptrace(PTRACE_GETREGS, tid, nullptr, &regs) == 0;
}

} // namespace

uint64_t FindElfSymbol(const QString& fileName, const char* symbol) {
    elf_version(EV_CURRENT);
    const QByteArray path = QFile::encodeName(fileName);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    uint64_t result = 0;
    Elf* elf = elf_begin(fd, ELF_C_READ, nullptr);
    if (elf != nullptr) {
        Elf_Scn* scn = nullptr;
        while (result == 0 && (scn = elf_nextscn(elf, scn)) != nullptr) {
            GElf_Shdr shdr;
            if (gelf_getshdr(scn, &shdr) == nullptr ||
                (shdr.sh_type != SHT_DYNSYM && shdr.sh_type != SHT_SYMTAB) || shdr.sh_entsize == 0)
                continue;
            Elf_Data* data = elf_getdata(scn, nullptr);
            if (data == nullptr)
                continue;
            const size_t count = shdr.sh_size / shdr.sh_entsize;
            for (size_t i = 0; i < count; ++i) {
                GElf_Sym sym;
                if (gelf_getsym(data, static_cast<int>(i), &sym) == nullptr ||
                    sym.st_shndx == SHN_UNDEF || sym.st_value == 0 ||
                    GELF_ST_TYPE(sym.st_info) != STT_FUNC)
                    continue;
                const char* name = elf_strptr(elf, shdr.sh_link, sym.st_name);
                if (name != nullptr && std::strcmp(name, symbol) == 0) {
                    result = sym.st_value;
                    break;
                }
            }
        }
        elf_end(elf);
    }
    ::close(fd);
    return result;
}

std::unique_ptr<IProcessControl> CreatePlatformProcessControl() {
    return std::make_unique<TPtraceProcessControl>();
}

TPtraceProcessControl::TPtraceProcessControl() {
    InstallWakeHandler();
}

TPtraceProcessControl::~TPtraceProcessControl() {
    SymCleanup();
    {
        std::lock_guard<std::mutex> guard(FKillLock);
        if (FPid > 0 && !FExited) {
            ::kill(FPid, SIGKILL);
            // Reap what is ours; the rest is released when this thread ends.
            int status = 0;
            while (::waitpid(-1, &status, __WALL | __WNOTHREAD | WNOHANG) > 0) {
            }
        }
        FExited = true;
    }
    StopReader();
    if (FPidFd >= 0)
        ::close(FPidFd);
}

// ---- start

void TPtraceProcessControl::CreateProcess(const QString& fileName) {
    TV_ASSERT(FPid == 0);
    FFileName = fileName;
    const QFileInfo info(fileName);
    FRealPath = info.canonicalFilePath();
    const QByteArray path = QFile::encodeName(fileName);
    const QByteArray folder = QFile::encodeName(info.absolutePath());

    int errPipe[2];
    if (::pipe2(errPipe, O_CLOEXEC) != 0)
        RaiseLastOSError(QStringLiteral("pipe"));
    int execPipe[2];
    if (::pipe2(execPipe, O_CLOEXEC) != 0) {
        const int saved = errno;
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        RaiseLastOSError(QStringLiteral("pipe"), saved);
    }
    char* const argv[] = {const_cast<char*>(path.constData()), nullptr};

    const pid_t pid = ::fork();
    if (pid == 0) {
        // Child: only async-signal-safe calls until exec.
        ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        int failure = 0;
        if (::chdir(folder.constData()) != 0)
            failure = errno;
        if (failure == 0 && ::dup2(errPipe[1], STDERR_FILENO) < 0)
            failure = errno;
        if (failure == 0) {
            ::execve(path.constData(), argv, environ);
            failure = errno;
        }
        [[maybe_unused]] ssize_t written = ::write(execPipe[1], &failure, sizeof failure);
        ::_exit(127);
    }
    const int forkErrno = errno;
    ::close(errPipe[1]);
    ::close(execPipe[1]);
    if (pid < 0) {
        ::close(errPipe[0]);
        ::close(execPipe[0]);
        RaiseLastOSError(QStringLiteral("fork"), forkErrno);
    }
    int childErrno = 0;
    ssize_t got;
    do {
        got = ::read(execPipe[0], &childErrno, sizeof childErrno);
    } while (got < 0 && errno == EINTR);
    ::close(execPipe[0]);
    int status = 0;
    if (got == static_cast<ssize_t>(sizeof childErrno)) {
        ::close(errPipe[0]);
        ::waitpid(pid, &status, __WALL);
        RaiseLastOSError(QStringLiteral("exec %1").arg(fileName), childErrno);
    }
    // The child stops at the exec.
    while (::waitpid(pid, &status, __WALL) < 0) {
        if (errno != EINTR) {
            const int saved = errno;
            ::close(errPipe[0]);
            RaiseLastOSError(QStringLiteral("waitpid"), saved);
        }
    }
    if (!WIFSTOPPED(status)) {
        ::close(errPipe[0]);
        throw EOSError(QStringLiteral("A program nem indult el: %1").arg(fileName), ECHILD);
    }
    {
        std::lock_guard<std::mutex> guard(FKillLock);
        FPid = pid;
        FPidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    }
    ::ptrace(PTRACE_SETOPTIONS, pid, nullptr,
             PTRACE_O_TRACECLONE | PTRACE_O_TRACEEXIT | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL |
                 PTRACE_O_TRACEFORK | PTRACE_O_TRACEVFORK);
    FWaiter = pthread_self();
    StartReader(errPipe[0]);
    HandleExecStop();
}

void TPtraceProcessControl::HandleExecStop() {
    FImageBase = ImageBaseOf(FRealPath);
    user_regs_struct regs{};
    GetRegs(FPid, regs);
    const uint64_t entry = AuxValue(FPid, AT_ENTRY);
    FThreads[FPid] = TThreadState();

    TDebugEvent create = NewEvent(CREATE_PROCESS_DEBUG_EVENT, FPid);
    create.ProcessHandle = static_cast<uint64_t>(FPid);
    create.ThreadHandle = static_cast<uint64_t>(FPid);
    create.ImageBase = FImageBase;
    // The runtime has not set up thread storage yet: the stack stands in.
    create.ThreadLocalBase = regs.fs_base != 0 ? regs.fs_base : regs.rsp;
    create.StartAddress = entry;
    Push(create);

    // The stop at the exec is the program's first breakpoint.
    TDebugEvent bp = NewEvent(EXCEPTION_DEBUG_EVENT, FPid);
    bp.Exception.ExceptionCode = EXCEPTION_BREAKPOINT;
    bp.Exception.ExceptionAddress = regs.rip;
    TResume resume;
    resume.FKind = TResume::rkContinue;
    resume.FTid = FPid;
    resume.FSignalNotHandled = 0;
    Push(bp, resume);

    // At the entry point the dynamic linker has loaded the initial modules.
    if (entry != 0)
        InsertBreakpoint(FPid, entry, bkEntry);
}

uint64_t TPtraceProcessControl::ImageBaseOf(const QString& realPath) const {
    const QList<TMapping> maps = ReadMaps(FPid);
    for (const TMapping& m : maps)
        if (m.FOffset == 0 && m.FPath == realPath)
            return m.FStart;
    for (const TMapping& m : maps)
        if (!m.FPath.isEmpty() && QFileInfo(m.FPath).fileName() == QFileInfo(realPath).fileName())
            return m.FStart;
    return maps.isEmpty() ? 0 : maps.first().FStart;
}

TDebugEvent TPtraceProcessControl::NewEvent(uint32_t code, pid_t tid) const {
    TDebugEvent event;
    event.DebugEventCode = code;
    event.ProcessId = static_cast<uint32_t>(FPid);
    event.ThreadId = static_cast<uint32_t>(tid);
    return event;
}

TDebugEvent TPtraceProcessControl::LanguageExceptionEvent(pid_t tid, const TInFlight& flight,
                                                          bool firstChance) const {
    TDebugEvent event = NewEvent(EXCEPTION_DEBUG_EVENT, tid);
    event.Exception.ExceptionCode = LANGUAGE_EXCEPTION;
    event.Exception.ExceptionAddress = flight.FCaller;
    event.Exception.NumberParameters = 3;
    event.Exception.ExceptionInformation[0] = flight.FCaller;
    event.Exception.ExceptionInformation[1] = flight.FObject;
    event.Exception.ExceptionInformation[2] = flight.FType;
    event.FirstChance = firstChance;
    return event;
}

void TPtraceProcessControl::Push(const TDebugEvent& event, const TResume& resume) {
    FPending.push_back(TPending{event, resume});
}

void TPtraceProcessControl::Push(const TDebugEvent& event) {
    Push(event, TResume());
}

// ---- waiting

bool TPtraceProcessControl::TakeDebugLine(QString& line) {
    std::lock_guard<std::mutex> guard(FLinesLock);
    if (FLines.empty())
        return false;
    line = FLines.front();
    FLines.pop_front();
    FLinesChanged.notify_all();
    return true;
}

void TPtraceProcessControl::WaitForDebugEvent(TDebugEvent& event) {
    TV_ASSERT(FPid > 0);
    TV_ASSERT(!FHasCurrent);
    FWaiter = pthread_self();
    for (;;) {
        if (!FPending.empty()) {
            FCurrent = FPending.front();
            FPending.pop_front();
            FHasCurrent = true;
            event = FCurrent.FEvent;
            return;
        }
        QString line;
        if (!FExited && TakeDebugLine(line)) {
            TDebugEvent text = NewEvent(OUTPUT_DEBUG_STRING_EVENT, FPid);
            text.DebugStringData = FNextText++;
            text.DebugStringLength = static_cast<uint32_t>(line.size() + 1);
            text.Unicode = true;
            FDebugTexts.insert(text.DebugStringData, line);
            Push(text);
            continue;
        }
        if (FExited)
            throw EOSError(QStringLiteral("A program már befejeződött."), ECHILD);
        if (!FDeferred.empty()) {
            const auto [tid, status] = FDeferred.front();
            FDeferred.pop_front();
            HandleStatus(tid, status);
            continue;
        }
        {
            std::lock_guard<std::mutex> guard(FLinesLock);
            FInWait = true;
        }
        int status = 0;
        const pid_t tid = ::waitpid(-1, &status, __WALL | __WNOTHREAD);
        const int saved = errno;
        {
            std::lock_guard<std::mutex> guard(FLinesLock);
            FInWait = false;
        }
        if (tid < 0) {
            if (saved == EINTR)
                continue;
            RaiseLastOSError(QStringLiteral("waitpid"), saved);
        }
        try {
            HandleStatus(tid, status);
        } catch (const EOSError& e) {
            // The stop could not be handled: the thread goes on, and unless
            // it simply died meanwhile the failure is reported as a system
            // debugging error.
            ::ptrace(PTRACE_CONT, tid, nullptr, nullptr);
            if (e.ErrorCode() != ESRCH && !FTerminateRequested) {
                TDebugEvent rip = NewEvent(RIP_EVENT, tid);
                rip.RipError = static_cast<uint32_t>(e.ErrorCode());
                Push(rip);
            }
        }
    }
}

void TPtraceProcessControl::HandleStatus(pid_t tid, int status) {
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
        int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (tid == FPid) {
            if (FTerminateRequested)
                exitCode = static_cast<int>(FTerminateExitCode);
            else if (WIFEXITED(status) && FLeaderExitStatus >= 0 && WIFEXITED(FLeaderExitStatus))
                exitCode = WEXITSTATUS(FLeaderExitStatus);
            // The last lines the program wrote come before its end.
            DrainDebugOutput(300);
            QString line;
            while (TakeDebugLine(line)) {
                TDebugEvent text = NewEvent(OUTPUT_DEBUG_STRING_EVENT, FPid);
                text.DebugStringData = FNextText++;
                text.DebugStringLength = static_cast<uint32_t>(line.size() + 1);
                text.Unicode = true;
                FDebugTexts.insert(text.DebugStringData, line);
                Push(text);
            }
            for (auto it = FThreads.begin(); it != FThreads.end(); ++it) {
                if (it->first == FPid || it->second.FExitReported)
                    continue;
                TDebugEvent exitThread = NewEvent(EXIT_THREAD_DEBUG_EVENT, it->first);
                exitThread.ExitCode = static_cast<uint32_t>(exitCode);
                Push(exitThread);
            }
            FThreads.clear();
            TDebugEvent exitProcess = NewEvent(EXIT_PROCESS_DEBUG_EVENT, FPid);
            exitProcess.ExitCode = static_cast<uint32_t>(exitCode);
            Push(exitProcess);
            {
                std::lock_guard<std::mutex> guard(FKillLock);
                FExited = true;
            }
            return;
        }
        auto it = FThreads.find(tid);
        if (it != FThreads.end()) {
            if (!it->second.FExitReported) {
                TDebugEvent exitThread = NewEvent(EXIT_THREAD_DEBUG_EVENT, tid);
                exitThread.ExitCode = static_cast<uint32_t>(exitCode);
                Push(exitThread);
            }
            FThreads.erase(it);
        }
        return;
    }
    if (!WIFSTOPPED(status))
        return;
    const int signal = WSTOPSIG(status);
    const int ptraceEvent = status >> 16;

    if (FThreads.find(tid) == FThreads.end()) {
        if (!IsOurThread(tid)) {
            // A forked child whose stop came before its parent's fork event.
            ReleaseChild(tid, false);
            return;
        }
        // A new thread whose stop came before its creator's clone event.
        TResume resume;
        resume.FKind = TResume::rkContinue;
        resume.FTid = tid;
        AddThread(tid, resume);
        return;
    }
    if (signal == SIGTRAP && ptraceEvent == PTRACE_EVENT_CLONE) {
        unsigned long newTid = 0;
        ::ptrace(PTRACE_GETEVENTMSG, tid, nullptr, &newTid);
        const pid_t child = static_cast<pid_t>(newTid);
        if (child > 0 && FThreads.find(child) == FThreads.end()) {
            int childStatus = 0;
            pid_t got;
            do {
                got = ::waitpid(child, &childStatus, __WALL);
            } while (got < 0 && errno == EINTR);
            if (got == child && WIFSTOPPED(childStatus)) {
                TResume resume;
                resume.FKind = TResume::rkContinueTwo;
                resume.FTid = tid;
                resume.FOtherTid = child;
                AddThread(child, resume);
                return;
            }
            if (got == child)
                FDeferred.emplace_back(child, childStatus);
        }
        ContinueThread(tid, 0);
        return;
    }
    if (signal == SIGTRAP &&
        (ptraceEvent == PTRACE_EVENT_FORK || ptraceEvent == PTRACE_EVENT_VFORK)) {
        unsigned long childPid = 0;
        ::ptrace(PTRACE_GETEVENTMSG, tid, nullptr, &childPid);
        const pid_t child = static_cast<pid_t>(childPid);
        if (child > 0 && FReleasedChildren.erase(child) == 0) {
            int childStatus = 0;
            pid_t got;
            do {
                got = ::waitpid(child, &childStatus, __WALL);
            } while (got < 0 && errno == EINTR);
            if (got == child && WIFSTOPPED(childStatus)) {
                ReleaseChild(child, ptraceEvent == PTRACE_EVENT_VFORK);
                FReleasedChildren.erase(child);
            }
        }
        ContinueThread(tid, 0);
        return;
    }
    if (signal == SIGTRAP && ptraceEvent == PTRACE_EVENT_EXIT) {
        unsigned long exitStatus = 0;
        ::ptrace(PTRACE_GETEVENTMSG, tid, nullptr, &exitStatus);
        const int st = static_cast<int>(exitStatus);
        if (tid == FPid) {
            FLeaderExitStatus = st;
            ContinueThread(tid, 0);
            return;
        }
        auto& state = FThreads[tid];
        state.FExitReported = true;
        TDebugEvent exitThread = NewEvent(EXIT_THREAD_DEBUG_EVENT, tid);
        exitThread.ExitCode = static_cast<uint32_t>(
            WIFEXITED(st) ? WEXITSTATUS(st) : (WIFSIGNALED(st) ? 128 + WTERMSIG(st) : 0));
        TResume resume;
        resume.FKind = TResume::rkContinue;
        resume.FTid = tid;
        Push(exitThread, resume);
        return;
    }
    if (ptraceEvent != 0) {
        // exec and the other notifications: nothing to report
        ContinueThread(tid, 0);
        return;
    }
    if (signal == SIGTRAP) {
        user_regs_struct regs{};
        if (GetRegs(tid, regs)) {
            auto bp = FBreakpoints.find(regs.rip - 1);
            if (bp != FBreakpoints.end()) {
                const TBreakpoint copy = bp->second;
                HandleBreakpoint(tid, copy, regs.rip - 1);
                return;
            }
        }
    }
    HandleSignal(tid, signal);
}

bool TPtraceProcessControl::IsOurThread(pid_t tid) const {
    QFile status(QStringLiteral("/proc/%1/status").arg(tid));
    if (!status.open(QIODevice::ReadOnly))
        return true;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("Tgid:"))
            return line.mid(5).trimmed().toInt() == FPid;
    return true;
}

void TPtraceProcessControl::ReleaseChild(pid_t child, bool sharesMemory) {
    if (!sharesMemory) {
        for (const auto& [address, bp] : FBreakpoints) {
            errno = 0;
            const long word =
                ::ptrace(PTRACE_PEEKDATA, child, reinterpret_cast<void*>(address), nullptr);
            if (errno != 0)
                continue;
            const uint64_t restored = (static_cast<uint64_t>(word) & ~uint64_t(0xff)) | bp.FSaved;
            ::ptrace(PTRACE_POKEDATA, child, reinterpret_cast<void*>(address),
                     reinterpret_cast<void*>(restored));
        }
    }
    ::ptrace(PTRACE_DETACH, child, nullptr, nullptr);
    FReleasedChildren.insert(child);
}

void TPtraceProcessControl::AddThread(pid_t tid, const TResume& resume) {
    FThreads[tid] = TThreadState();
    user_regs_struct regs{};
    GetRegs(tid, regs);
    TDebugEvent created = NewEvent(CREATE_THREAD_DEBUG_EVENT, tid);
    created.ThreadHandle = static_cast<uint64_t>(tid);
    created.ThreadLocalBase = regs.fs_base != 0 ? regs.fs_base : regs.rsp;
    created.StartAddress = regs.rip;
    Push(created, resume);
}

void TPtraceProcessControl::HandleBreakpoint(pid_t tid, const TBreakpoint& bp, uint64_t rip) {
    switch (bp.FKind) {
    case bkEntry: {
        RemoveBreakpoint(tid, rip);
        user_regs_struct regs{};
        GetRegs(tid, regs);
        regs.rip = rip;
        ::ptrace(PTRACE_SETREGS, tid, nullptr, &regs);
        InitRendezvous(tid);
        WatchRuntime(tid, FRealPath, FImageBase);
        const int queued = SyncModules(tid);
        if (queued == 0) {
            ContinueThread(tid, 0);
        } else {
            FPending.back().FResume.FKind = TResume::rkContinue;
            FPending.back().FResume.FTid = tid;
        }
        return;
    }
    case bkRendezvous: {
        // r_state: 0 consistent, 1 adding, 2 deleting
        int queued = 0;
        if (FRDebug != 0 && (ReadWord(FRDebug + 24) & 0xffffffff) == 0)
            queued = SyncModules(tid);
        if (queued == 0) {
            StepOver(tid, rip, 0);
        } else {
            FPending.back().FResume.FKind = TResume::rkStepOver;
            FPending.back().FResume.FTid = tid;
            FPending.back().FResume.FBreakpoint = rip;
        }
        return;
    }
    case bkThrow: {
        user_regs_struct regs{};
        GetRegs(tid, regs);
        TInFlight flight;
        flight.FObject = regs.rdi;
        flight.FType = regs.rsi;
        flight.FCaller = ReadWord(regs.rsp);
        auto& state = FThreads[tid];
        state.FHasInFlight = true;
        state.FInFlight = flight;
        const TDebugEvent event = LanguageExceptionEvent(tid, flight, true);
        TResume resume;
        resume.FKind = TResume::rkStepOver;
        resume.FTid = tid;
        resume.FBreakpoint = rip;
        Push(event, resume);
        return;
    }
    case bkBeginCatch: {
        // Only a catch of the program counts: the runtime itself "catches"
        // an exception that nobody handles before it terminates.
        user_regs_struct regs{};
        GetRegs(tid, regs);
        const uint64_t caller = ReadWord(regs.rsp);
        if (caller < FRuntimeStart || caller >= FRuntimeEnd)
            FThreads[tid].FHasInFlight = false;
        StepOver(tid, rip, 0);
        return;
    }
    }
}

void TPtraceProcessControl::HandleSignal(pid_t tid, int signal) {
    siginfo_t info{};
    const bool haveInfo = ::ptrace(PTRACE_GETSIGINFO, tid, nullptr, &info) == 0;
    if (!haveInfo && errno == EINVAL) {
        // group-stop: the program is not frozen by a stop signal here
        ContinueThread(tid, 0);
        return;
    }
    auto& state = FThreads[tid];
    if (signal == SIGABRT && state.FHasInFlight) {
        // The runtime aborts because nothing caught the exception: report it
        // again, as the second chance.
        state.FHasInFlight = false;
        const TDebugEvent event = LanguageExceptionEvent(tid, state.FInFlight, false);
        TResume resume;
        resume.FKind = TResume::rkContinue;
        resume.FTid = tid;
        resume.FSignalNotHandled = signal;
        Push(event, resume);
        return;
    }
    if (IsQuietSignal(signal)) {
        ContinueThread(tid, signal == SIGSTOP ? 0 : signal);
        return;
    }
    user_regs_struct regs{};
    GetRegs(tid, regs);
    TDebugEvent event = NewEvent(EXCEPTION_DEBUG_EVENT, tid);
    event.Exception.ExceptionAddress = regs.rip;
    switch (signal) {
    case SIGSEGV: {
        const uint64_t fault = reinterpret_cast<uint64_t>(info.si_addr);
        event.Exception.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
        // A fault next to the stack pointer in unmapped or guard memory is
        // the stack running out.
        const uint64_t distance = fault > regs.rsp ? fault - regs.rsp : regs.rsp - fault;
        if (distance < 65536) {
            const TMemoryRegionInfo region = QueryMemory(fault);
            if (!region.Committed)
                event.Exception.ExceptionCode = EXCEPTION_STACK_OVERFLOW;
        }
        event.Exception.NumberParameters = 2;
        event.Exception.ExceptionInformation[0] = 0;
        event.Exception.ExceptionInformation[1] = fault;
        break;
    }
    case SIGFPE:
        event.Exception.ExceptionCode = FpeCode(info.si_code);
        break;
    case SIGILL:
        event.Exception.ExceptionCode = EXCEPTION_PRIV_INSTRUCTION;
        break;
    case SIGINT:
        event.Exception.ExceptionCode = CONTROL_C_EXIT;
        break;
    case SIGTRAP:
        event.Exception.ExceptionCode = EXCEPTION_BREAKPOINT;
        break;
    default:
        event.Exception.ExceptionCode = static_cast<uint32_t>(signal);
        break;
    }
    TResume resume;
    resume.FKind = TResume::rkContinue;
    resume.FTid = tid;
    resume.FSignalNotHandled = signal;
    Push(event, resume);
}

// ---- continuing

void TPtraceProcessControl::ContinueDebugEvent(uint32_t processId, uint32_t threadId,
                                               uint32_t status) {
    TV_ASSERT(FHasCurrent);
    TV_ASSERT(processId == FCurrent.FEvent.ProcessId && threadId == FCurrent.FEvent.ThreadId);
    TV_ASSERT(status == DBG_CONTINUE || status == DBG_EXCEPTION_NOT_HANDLED);
    FHasCurrent = false;
    if (FCurrent.FEvent.DebugEventCode == OUTPUT_DEBUG_STRING_EVENT)
        FDebugTexts.remove(FCurrent.FEvent.DebugStringData);
    try {
        Resume(FCurrent.FResume, status);
    } catch (const EOSError& e) {
        // A thread that died while stopped: its exit is collected later.
        if (e.ErrorCode() != ESRCH)
            throw;
    }
}

void TPtraceProcessControl::Resume(const TResume& resume, uint32_t status) {
    const int signal = status == DBG_EXCEPTION_NOT_HANDLED ? resume.FSignalNotHandled : 0;
    switch (resume.FKind) {
    case TResume::rkNone:
        break;
    case TResume::rkContinue:
        ContinueThread(resume.FTid, signal);
        break;
    case TResume::rkContinueTwo:
        ContinueThread(resume.FOtherTid, 0);
        ContinueThread(resume.FTid, 0);
        break;
    case TResume::rkStepOver:
        StepOver(resume.FTid, resume.FBreakpoint, 0);
        break;
    }
}

void TPtraceProcessControl::ContinueThread(pid_t tid, int signal) {
    if (::ptrace(PTRACE_CONT, tid, nullptr, reinterpret_cast<void*>(static_cast<long>(signal))) !=
            0 &&
        errno != ESRCH)
        RaiseLastOSError(QStringLiteral("ptrace"));
}

void TPtraceProcessControl::StepOver(pid_t tid, uint64_t address, int signal) {
    auto bp = FBreakpoints.find(address);
    if (bp == FBreakpoints.end()) {
        ContinueThread(tid, signal);
        return;
    }
    const uint64_t word = PeekWord(tid, address);
    PokeWord(tid, address, (word & ~uint64_t(0xff)) | bp->second.FSaved);
    user_regs_struct regs{};
    if (GetRegs(tid, regs)) {
        regs.rip = address;
        ::ptrace(PTRACE_SETREGS, tid, nullptr, &regs);
    }
    int pendingSignal = signal;
    if (::ptrace(PTRACE_SINGLESTEP, tid, nullptr,
                 reinterpret_cast<void*>(static_cast<long>(signal))) == 0) {
        int status = 0;
        pid_t got;
        do {
            got = ::waitpid(tid, &status, __WALL);
        } while (got < 0 && errno == EINTR);
        if (got == tid && (WIFEXITED(status) || WIFSIGNALED(status))) {
            FDeferred.emplace_back(tid, status);
            return;
        }
        pendingSignal = 0;
        if (got == tid && WIFSTOPPED(status) && WSTOPSIG(status) != SIGTRAP)
            pendingSignal = WSTOPSIG(status);
    }
    const uint64_t now = PeekWord(tid, address);
    PokeWord(tid, address, (now & ~uint64_t(0xff)) | 0xcc);
    ContinueThread(tid, pendingSignal);
}

// ---- breakpoints and memory

uint64_t TPtraceProcessControl::PeekWord(pid_t tid, uint64_t address) {
    errno = 0;
    const long value = ::ptrace(PTRACE_PEEKDATA, tid, reinterpret_cast<void*>(address), nullptr);
    if (errno != 0)
        RaiseLastOSError(QStringLiteral("ptrace"));
    return static_cast<uint64_t>(value);
}

void TPtraceProcessControl::PokeWord(pid_t tid, uint64_t address, uint64_t value) {
    if (::ptrace(PTRACE_POKEDATA, tid, reinterpret_cast<void*>(address),
                 reinterpret_cast<void*>(value)) != 0)
        RaiseLastOSError(QStringLiteral("ptrace"));
}

void TPtraceProcessControl::InsertBreakpoint(pid_t tid, uint64_t address, TBreakpointKind kind) {
    if (FBreakpoints.count(address) != 0)
        return;
    const uint64_t word = PeekWord(tid, address);
    TBreakpoint bp;
    bp.FAddress = address;
    bp.FSaved = static_cast<uint8_t>(word & 0xff);
    bp.FKind = kind;
    PokeWord(tid, address, (word & ~uint64_t(0xff)) | 0xcc);
    FBreakpoints[address] = bp;
}

void TPtraceProcessControl::RemoveBreakpoint(pid_t tid, uint64_t address) {
    auto it = FBreakpoints.find(address);
    if (it == FBreakpoints.end())
        return;
    const uint64_t word = PeekWord(tid, address);
    PokeWord(tid, address, (word & ~uint64_t(0xff)) | it->second.FSaved);
    FBreakpoints.erase(it);
}

uint64_t TPtraceProcessControl::ReadWord(uint64_t address) {
    const QByteArray bytes = ReadProcessMemory(address, 8);
    uint64_t value = 0;
    std::memcpy(&value, bytes.constData(), 8);
    return value;
}

QByteArray TPtraceProcessControl::ReadProcessMemory(uint64_t address, int size) {
    TV_ASSERT(size >= 0);
    QByteArray buffer(size, '\0');
    if (size == 0)
        return buffer;
    iovec local{buffer.data(), static_cast<size_t>(size)};
    iovec remote{reinterpret_cast<void*>(address), static_cast<size_t>(size)};
    const ssize_t got = ::process_vm_readv(FPid, &local, 1, &remote, 1, 0);
    if (got < 0 && errno == ESRCH)
        RaiseLastOSError(QStringLiteral("process_vm_readv"), ESRCH);
    if (got != size) {
        // Memory of a thread that ptrace keeps stopped can still be read
        // through the process's memory file.
        QFile mem(QStringLiteral("/proc/%1/mem").arg(FPid));
        if (mem.open(QIODevice::ReadOnly | QIODevice::Unbuffered) &&
            mem.seek(static_cast<qint64>(address)) && mem.read(buffer.data(), size) == size)
            return buffer;
        throw EOSError(QStringLiteral("A(z) %1 címről nem olvasható a program memóriája.")
                           .arg(address, 16, 16, QLatin1Char('0'))
                           .replace(QLatin1String("A(z)"), QLatin1String("A")),
                       EFAULT);
    }
    return buffer;
}

QString TPtraceProcessControl::ReadDebugString(const TDebugEvent& event) {
    return FDebugTexts.value(event.DebugStringData);
}

void TPtraceProcessControl::TerminateProcess(uint32_t exitCode) {
    std::lock_guard<std::mutex> guard(FKillLock);
    if (FPid <= 0 || FExited)
        return;
    FTerminateExitCode = exitCode;
    FTerminateRequested = true;
    if (FPidFd >= 0)
        ::syscall(SYS_pidfd_send_signal, FPidFd, SIGKILL, nullptr, 0);
    else
        ::kill(FPid, SIGKILL);
}

QString TPtraceProcessControl::SystemErrorMessage(uint32_t errorCode) {
    return QString::fromLocal8Bit(std::strerror(static_cast<int>(errorCode)));
}

TMemoryRegionInfo TPtraceProcessControl::QueryMemory(uint64_t address) {
    TMemoryRegionInfo result;
    const QList<TMapping> maps = ReadMaps(FPid);
    for (const TMapping& m : maps) {
        if (address < m.FStart || address >= m.FEnd)
            continue;
        result.Start = m.FStart;
        result.End = m.FEnd;
        result.Committed = !m.FPerms.startsWith(QLatin1String("---"));
        if (m.FPath.startsWith(QLatin1Char('/')))
            result.ModuleFileName = m.FPath;
        break;
    }
    return result;
}

// ---- modules

void TPtraceProcessControl::InitRendezvous(pid_t tid) {
    Q_UNUSED(tid);
    // The program's dynamic section holds DT_DEBUG, the address of the
    // dynamic linker's r_debug, filled in before the entry point runs.
    const uint64_t phdr = AuxValue(FPid, AT_PHDR);
    const uint64_t phnum = AuxValue(FPid, AT_PHNUM);
    if (phdr == 0 || phnum == 0)
        return;
    uint64_t bias = 0;
    uint64_t dynamic = 0;
    for (uint64_t i = 0; i < phnum; ++i) {
        const QByteArray bytes =
            ReadProcessMemory(phdr + i * sizeof(Elf64_Phdr), sizeof(Elf64_Phdr));
        Elf64_Phdr header;
        std::memcpy(&header, bytes.constData(), sizeof header);
        if (header.p_type == PT_PHDR)
            bias = phdr - header.p_vaddr;
        else if (header.p_type == PT_DYNAMIC)
            dynamic = header.p_vaddr;
    }
    if (dynamic == 0)
        return;
    dynamic += bias;
    for (int i = 0; i < 512; ++i) {
        const QByteArray bytes =
            ReadProcessMemory(dynamic + i * sizeof(Elf64_Dyn), sizeof(Elf64_Dyn));
        Elf64_Dyn entry;
        std::memcpy(&entry, bytes.constData(), sizeof entry);
        if (entry.d_tag == DT_NULL)
            break;
        if (entry.d_tag == DT_DEBUG) {
            FRDebug = entry.d_un.d_ptr;
            break;
        }
    }
    if (FRDebug == 0)
        return;
    const uint64_t brk = ReadWord(FRDebug + 16);
    if (brk != 0)
        InsertBreakpoint(tid, brk, bkRendezvous);
}

int TPtraceProcessControl::SyncModules(pid_t tid) {
    if (FRDebug == 0)
        return 0;
    std::map<uint64_t, uint64_t> current;
    QMap<uint64_t, QString> files;
    uint64_t node = ReadWord(FRDebug + 8);
    for (int guard = 0; node != 0 && guard < 4096; ++guard) {
        const uint64_t base = ReadWord(node);
        const uint64_t namePtr = ReadWord(node + 8);
        if (base != 0 && namePtr != 0) {
            QByteArray name;
            for (uint64_t at = namePtr; name.size() < 4096; at += 64) {
                QByteArray chunk;
                try {
                    chunk = ReadProcessMemory(at, 64);
                } catch (const EOSError&) {
                    chunk = ReadProcessMemory(at, 1);
                }
                const int zero = chunk.indexOf('\0');
                name += zero >= 0 ? chunk.left(zero) : chunk;
                if (zero >= 0)
                    break;
            }
            if (!name.isEmpty()) {
                current[base] = node + 8;
                files[base] = QString::fromUtf8(name);
            }
        }
        node = ReadWord(node + 24);
    }
    int queued = 0;
    for (auto it = FModules.begin(); it != FModules.end();) {
        if (current.count(it->first) == 0) {
            TDebugEvent unload = NewEvent(UNLOAD_DLL_DEBUG_EVENT, tid);
            unload.BaseOfDll = it->first;
            Push(unload);
            ++queued;
            it = FModules.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& [base, nameAddress] : current) {
        if (FModules.count(base) != 0)
            continue;
        FModules[base] = nameAddress;
        TDebugEvent load = NewEvent(LOAD_DLL_DEBUG_EVENT, tid);
        load.BaseOfDll = base;
        load.ImageName = nameAddress;
        load.Unicode = false;
        Push(load);
        ++queued;
        WatchRuntime(tid, files.value(base), base);
    }
    if (queued > 0)
        FModulesChanged = true;
    return queued;
}

void TPtraceProcessControl::WatchRuntime(pid_t tid, const QString& fileName, uint64_t base) {
    if (FRuntimeWatched || fileName.isEmpty() || !fileName.startsWith(QLatin1Char('/')))
        return;
    const uint64_t throwAt = FindElfSymbol(fileName, "__cxa_throw");
    if (throwAt == 0)
        return;
    // A position-dependent program keeps its link-time addresses.
    const uint64_t load = (fileName == FRealPath && throwAt >= base) ? 0 : base;
    InsertBreakpoint(tid, load + throwAt, bkThrow);
    const uint64_t catchAt = FindElfSymbol(fileName, "__cxa_begin_catch");
    if (catchAt != 0)
        InsertBreakpoint(tid, load + catchAt, bkBeginCatch);
    FRuntimeStart = UINT64_MAX;
    FRuntimeEnd = 0;
    for (const TMapping& m : ReadMaps(FPid)) {
        if (m.FPath != fileName && m.FPath != QFileInfo(fileName).canonicalFilePath())
            continue;
        FRuntimeStart = std::min(FRuntimeStart, m.FStart);
        FRuntimeEnd = std::max(FRuntimeEnd, m.FEnd);
    }
    FRuntimeWatched = true;
}

// ---- debug output

void TPtraceProcessControl::StartReader(int fd) {
    FReaderFd = fd;
    if (::pipe2(FStopPipe, O_CLOEXEC) != 0)
        RaiseLastOSError(QStringLiteral("pipe"));
    FReaderEof = false;
    FReader = std::thread([this] { ReaderBody(); });
}

void TPtraceProcessControl::StopReader() {
    if (FReader.joinable()) {
        char byte = 1;
        [[maybe_unused]] ssize_t written = ::write(FStopPipe[1], &byte, 1);
        FReader.join();
    }
    for (int& fd : FStopPipe)
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    if (FReaderFd >= 0) {
        ::close(FReaderFd);
        FReaderFd = -1;
    }
}

void TPtraceProcessControl::ReaderBody() {
    QByteArray partial;
    const auto deliver = [this](const QByteArray& raw) {
        QByteArray text = raw;
        if (text.endsWith('\r'))
            text.chop(1);
        std::lock_guard<std::mutex> guard(FLinesLock);
        FLines.push_back(QString::fromUtf8(text));
        FLinesChanged.notify_all();
    };
    for (;;) {
        pollfd fds[2] = {{FReaderFd, POLLIN, 0}, {FStopPipe[0], POLLIN, 0}};
        // While lines wait for the loop, keep waking it (a wake can come
        // just before it starts waiting).
        bool waiting;
        {
            std::lock_guard<std::mutex> guard(FLinesLock);
            waiting = !FLines.empty();
            if (waiting && FInWait)
                pthread_kill(FWaiter, WakeSignal());
        }
        const int ready = ::poll(fds, 2, waiting ? 20 : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (fds[1].revents != 0)
            break;
        if (ready <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = ::read(FReaderFd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (!partial.isEmpty())
                deliver(partial);
            std::lock_guard<std::mutex> guard(FLinesLock);
            FReaderEof = true;
            FLinesChanged.notify_all();
            if (FInWait)
                pthread_kill(FWaiter, WakeSignal());
            break;
        }
        partial.append(buffer, static_cast<int>(got));
        int nl;
        while ((nl = partial.indexOf('\n')) >= 0) {
            deliver(partial.left(nl));
            partial.remove(0, nl + 1);
        }
        std::lock_guard<std::mutex> guard(FLinesLock);
        if (FInWait)
            pthread_kill(FWaiter, WakeSignal());
    }
}

void TPtraceProcessControl::DrainDebugOutput(int waitMs) {
    std::unique_lock<std::mutex> lock(FLinesLock);
    FLinesChanged.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return FReaderEof; });
}

// ---- symbol engine and stack walk

void TPtraceProcessControl::SymInitialize() {
    if (FDwfl != nullptr)
        return;
    static char* debugInfoPath = nullptr;
    static const Dwfl_Callbacks callbacks = {dwfl_linux_proc_find_elf, dwfl_standard_find_debuginfo,
                                             nullptr, &debugInfoPath};
    Dwfl* dwfl = dwfl_begin(&callbacks);
    if (dwfl == nullptr)
        throw EOSError(QString::fromUtf8(dwfl_errmsg(-1)));
    dwfl_report_begin(dwfl);
    if (dwfl_linux_proc_report(dwfl, FPid) != 0 || dwfl_report_end(dwfl, nullptr, nullptr) != 0) {
        const QString message = QString::fromUtf8(dwfl_errmsg(-1));
        dwfl_end(dwfl);
        throw EOSError(message);
    }
    if (dwfl_linux_proc_attach(dwfl, FPid, true) != 0) {
        const QString message = QString::fromUtf8(dwfl_errmsg(-1));
        dwfl_end(dwfl);
        throw EOSError(message);
    }
    FDwfl = dwfl;
    FModulesChanged = false;
}

void TPtraceProcessControl::SymRefreshModuleList() {
    TV_ASSERT(FDwfl != nullptr);
    if (!FModulesChanged)
        return;
    dwfl_report_begin(FDwfl);
    if (dwfl_linux_proc_report(FDwfl, FPid) != 0 || dwfl_report_end(FDwfl, nullptr, nullptr) != 0)
        throw EOSError(QString::fromUtf8(dwfl_errmsg(-1)));
    FModulesChanged = false;
}

void TPtraceProcessControl::SymCleanup() {
    if (FDwfl != nullptr) {
        dwfl_end(FDwfl);
        FDwfl = nullptr;
    }
}

namespace {
struct TWalk {
    Dwfl* FDwfl;
    QList<uint64_t> FAddresses;
};

int WalkFrame(Dwfl_Frame* state, void* arg) {
    auto* walk = static_cast<TWalk*>(arg);
    Dwarf_Addr pc = 0;
    bool activation = false;
    if (!dwfl_frame_pc(state, &pc, &activation) || pc == 0)
        return DWARF_CB_ABORT;
    const uint64_t address = activation ? pc : pc - 1;
    if (dwfl_addrmodule(walk->FDwfl, address) == nullptr)
        return DWARF_CB_ABORT;
    // A frame that repeats its predecessor is a corrupt stack.
    if (!walk->FAddresses.isEmpty() && walk->FAddresses.size() > 1 &&
        walk->FAddresses.last() == address)
        return DWARF_CB_ABORT;
    walk->FAddresses.append(address);
    return walk->FAddresses.size() >= 1024 ? DWARF_CB_ABORT : DWARF_CB_OK;
}
} // namespace

QList<uint64_t> TPtraceProcessControl::GetStackTrace(uint32_t threadId) {
    if (FDwfl == nullptr)
        SymInitialize();
    TWalk walk{FDwfl, {}};
    dwfl_getthread_frames(FDwfl, static_cast<pid_t>(threadId), WalkFrame, &walk);
    return walk.FAddresses;
}
