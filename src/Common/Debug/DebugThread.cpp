#include "Common/Debug/DebugThread.h"

#include "Common/Debug/DebugExInfo.h"
#include "Common/Util/StrUtilsEx.h"

#include <QFileInfo>

#include <cstdio>
#include <cstring>

using namespace DebugApi;

namespace {
// Module names longer than this are not names.
constexpr int kMaxModuleName = 32768;
} // namespace

const QString& TDebugThread::MissingTitle() {
    static const QString text = QStringLiteral("A program nem található.");
    return text;
}

const QString& TDebugThread::MissingMessageFmt() {
    static const QString text =
        QStringLiteral("A futtatandó program (\"%s\") nem található.\r\nEllenőrizze az elérési "
                       "útvonalat, vagy kérjen segítséget az üzemeltetéstől.");
    return text;
}

TDebugThread::TDebugThread(const QString& fileName) : FFileName(fileName) {
    TV_ASSERT(!fileName.isEmpty());
    if (!QFileInfo(fileName).isFile())
        throw EDebugThread(MissingTitle(), FixArticle(Format(MissingMessageFmt(), {fileName})));
    FControl = CreateProcessControl();
    FProcess = std::make_unique<TDebugProcessInfo>(fileName, FControl.get());
}

TDebugThread::~TDebugThread() {
    // The owner waits for the thread before releasing it; this is the last
    // guard against releasing a running loop.
    if (isRunning()) {
        TerminateProcess();
        wait();
    }
}

void TDebugThread::TerminateProcess() {
    if (FProcess->Active())
        FControl->TerminateProcess(0);
}

void TDebugThread::RequestClose() {
    FCloseRequested = true;
    TerminateProcess();
}

bool TDebugThread::HasThread(uint32_t threadId) const {
    std::lock_guard<std::mutex> guard(FTablesLock);
    return FThreads.count(threadId) != 0;
}

TDebugThreadInfo* TDebugThread::FindThread(uint32_t threadId) const {
    std::lock_guard<std::mutex> guard(FTablesLock);
    auto it = FThreads.find(threadId);
    return it != FThreads.end() ? it->second.get() : nullptr;
}

int TDebugThread::ThreadCount() const {
    std::lock_guard<std::mutex> guard(FTablesLock);
    return static_cast<int>(FThreads.size());
}

int TDebugThread::LibraryCount() const {
    std::lock_guard<std::mutex> guard(FTablesLock);
    return static_cast<int>(FLibraries.size());
}

void TDebugThread::ShowError(const std::exception& error) {
    if (OnShowError)
        OnShowError(error);
    else
        ::ShowException(error);
}

void TDebugThread::ShowCurrentError() {
    try {
        throw;
    } catch (const std::exception& e) {
        ShowError(e);
    } catch (...) {
        ShowError(::Exception(QStringLiteral("Ismeretlen hiba")));
    }
}

void TDebugThread::run() {
    try {
        try {
            FControl->CreateProcess(FFileName);
            bool exited = false;
            while (!exited) {
                TDebugEvent event;
                FControl->WaitForDebugEvent(event);
                uint32_t status = DBG_CONTINUE;
                try {
                    status = Dispatch(event);
                } catch (...) {
                    ShowCurrentError();
                    status = DBG_CONTINUE;
                }
                // A close requested while the program was being created.
                if (event.DebugEventCode == CREATE_PROCESS_DEBUG_EVENT && FCloseRequested &&
                    FProcess->Active())
                    FControl->TerminateProcess(0);
                FControl->ContinueDebugEvent(event.ProcessId, event.ThreadId, status);
                exited = event.DebugEventCode == EXIT_PROCESS_DEBUG_EVENT;
            }
        } catch (...) {
            ShowCurrentError();
        }
    } catch (...) {
        FFatalException = std::current_exception();
    }
}

uint32_t TDebugThread::Dispatch(const TDebugEvent& event) {
    const uint32_t kind = event.DebugEventCode;
    TV_ASSERT(kind >= EXCEPTION_DEBUG_EVENT && kind <= RIP_EVENT);
    if (kind != CREATE_PROCESS_DEBUG_EVENT)
        TV_ASSERT(FProcess->Active());
    switch (kind) {
    case EXCEPTION_DEBUG_EVENT:
        return Exception(event);
    case CREATE_THREAD_DEBUG_EVENT:
        CreateThread(event.ThreadId, event.ThreadHandle, event.ThreadLocalBase);
        break;
    case CREATE_PROCESS_DEBUG_EVENT:
        CreateProcess(event);
        break;
    case EXIT_THREAD_DEBUG_EVENT:
        ExitThread(event.ThreadId, event.ExitCode);
        break;
    case EXIT_PROCESS_DEBUG_EVENT:
        ExitProcess(event);
        break;
    case LOAD_DLL_DEBUG_EVENT:
        LoadDll(event);
        break;
    case UNLOAD_DLL_DEBUG_EVENT:
        UnloadDll(event);
        break;
    case OUTPUT_DEBUG_STRING_EVENT:
        DebugString(event);
        break;
    case RIP_EVENT:
        Rip(event);
        break;
    }
    return DBG_CONTINUE;
}

void TDebugThread::CreateProcess(const TDebugEvent& event) {
    FProcess->Start(event.ProcessHandle, event.ProcessId, event.ThreadId, event.ImageBase);
    if (OnCreateProcess)
        OnCreateProcess(this, *FProcess);
    CreateThread(event.ThreadId, event.ThreadHandle, event.ThreadLocalBase);
    // The layer hands out no file handles to close.
}

void TDebugThread::CreateThread(uint32_t threadId, uint64_t threadHandle, uint64_t localBase) {
    auto record = std::make_unique<TDebugThreadInfo>(threadHandle, FProcess->Handle(), threadId,
                                                     localBase, FControl.get());
    TDebugThreadInfo* thread = record.get();
    {
        std::lock_guard<std::mutex> guard(FTablesLock);
        TV_ASSERT(FThreads.count(threadId) == 0);
        FThreads.emplace(threadId, std::move(record));
    }
    if (OnCreateThread)
        OnCreateThread(this, *thread);
}

void TDebugThread::ExitThread(uint32_t threadId, uint32_t exitCode) {
    TDebugThreadInfo* thread = nullptr;
    {
        std::lock_guard<std::mutex> guard(FTablesLock);
        auto it = FThreads.find(threadId);
        TV_ASSERT(it != FThreads.end());
        thread = it->second.get();
    }
    TV_ASSERT(thread->Active());
    thread->Terminate(exitCode);
    // The record is released once its event has been delivered, also when
    // a listener fails.
    struct TRemove {
        TDebugThread* FOwner;
        uint32_t FId;
        ~TRemove() {
            std::unique_ptr<TDebugThreadInfo> released;
            std::lock_guard<std::mutex> guard(FOwner->FTablesLock);
            auto it = FOwner->FThreads.find(FId);
            if (it != FOwner->FThreads.end()) {
                released = std::move(it->second);
                FOwner->FThreads.erase(it);
            }
        }
    } remove{this, threadId};
    if (OnExitThread)
        OnExitThread(this, *thread);
}

void TDebugThread::ExitProcess(const TDebugEvent& event) {
    if (FSymInitialized) {
        FSymInitialized = false;
        FControl->SymCleanup();
    }
    ExitThread(event.ThreadId, event.ExitCode);
    FProcess->Terminate(event.ExitCode);
    if (OnExitProcess)
        OnExitProcess(this, *FProcess);
}

QString TDebugThread::ReadModuleName(const TDebugEvent& event) {
    if (event.ImageName == 0)
        return QString();
    const QByteArray pointerBytes = FControl->ReadProcessMemory(event.ImageName, 8);
    uint64_t pointer = 0;
    std::memcpy(&pointer, pointerBytes.constData(), 8);
    if (pointer == 0)
        return QString();
    if (event.Unicode) {
        QString name;
        for (uint64_t at = pointer; name.size() < kMaxModuleName; at += 2) {
            const QByteArray c = FControl->ReadProcessMemory(at, 2);
            char16_t ch = 0;
            std::memcpy(&ch, c.constData(), 2);
            if (ch == 0)
                break;
            name += QChar(ch);
        }
        return name;
    }
    QByteArray name;
    for (uint64_t at = pointer; name.size() < kMaxModuleName; ++at) {
        const QByteArray c = FControl->ReadProcessMemory(at, 1);
        if (c.at(0) == '\0')
            break;
        name += c;
    }
    return QString::fromUtf8(name);
}

void TDebugThread::LoadDll(const TDebugEvent& event) {
    const QString name = ReadModuleName(event);
    if (name.isEmpty())
        return;
    TDebugLibraryInfo* library = nullptr;
    {
        std::lock_guard<std::mutex> guard(FTablesLock);
        if (FLibraries.count(event.BaseOfDll) != 0)
            return;
        auto record = std::make_unique<TDebugLibraryInfo>(name, event.BaseOfDll);
        library = record.get();
        FLibraries.emplace(event.BaseOfDll, std::move(record));
    }
    if (OnLoadDll)
        OnLoadDll(this, *library);
}

void TDebugThread::UnloadDll(const TDebugEvent& event) {
    TDebugLibraryInfo* library = nullptr;
    {
        std::lock_guard<std::mutex> guard(FTablesLock);
        auto it = FLibraries.find(event.BaseOfDll);
        if (it == FLibraries.end())
            return;
        library = it->second.get();
    }
    library->Unload();
    struct TRemove {
        TDebugThread* FOwner;
        uint64_t FBase;
        ~TRemove() {
            std::unique_ptr<TDebugLibraryInfo> released;
            std::lock_guard<std::mutex> guard(FOwner->FTablesLock);
            auto it = FOwner->FLibraries.find(FBase);
            if (it != FOwner->FLibraries.end()) {
                released = std::move(it->second);
                FOwner->FLibraries.erase(it);
            }
        }
    } remove{this, event.BaseOfDll};
    if (OnUnloadDll)
        OnUnloadDll(this, *library);
}

void TDebugThread::DebugString(const TDebugEvent& event) {
    if (!OnDebugString)
        return;
    const QString text = FControl->ReadDebugString(event);
    OnDebugString(this, text);
}

void TDebugThread::Rip(const TDebugEvent& event) {
    if (!OnRIP)
        return;
    OnRIP(this, event.RipError, FControl->SystemErrorMessage(event.RipError));
}

uint32_t TDebugThread::Exception(const TDebugEvent& event) {
    const uint32_t code = event.Exception.ExceptionCode;
    if (code == EXCEPTION_BREAKPOINT) {
        if (FFirstBreakPoint) {
            FFirstBreakPoint = false;
            return DBG_CONTINUE;
        }
        return DBG_EXCEPTION_NOT_HANDLED;
    }
    if (code >= LANGUAGE_NOTIFY_FIRST && code <= LANGUAGE_NOTIFY_LAST)
        return DBG_CONTINUE;
    if (OnDebugException) {
        try {
            ReportException(event);
        } catch (...) {
            // The error is shown and the program goes on as decided: a fault
            // continued as handled would only be raised again, endlessly.
            ShowCurrentError();
        }
    }
    return DBG_EXCEPTION_NOT_HANDLED;
}

void TDebugThread::ReportException(const TDebugEvent& event) {
    TDebugThreadInfo* thread = nullptr;
    {
        std::lock_guard<std::mutex> guard(FTablesLock);
        auto it = FThreads.find(event.ThreadId);
        TV_ASSERT(it != FThreads.end());
        thread = it->second.get();
    }
    if (!FSymInitialized) {
        FControl->SymInitialize();
        FSymInitialized = true;
    } else {
        FControl->SymRefreshModuleList();
    }
    TV_ASSERT(thread->Active());
    TDebugExInfo info;
    info.CollectErrorInfo(FProcess.get(), thread, event.Exception);
    OnDebugException(this, info);
}
