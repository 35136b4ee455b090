#include "Common/Debug/DebuggedProcess.h"

#include "Common/Util/StrUtilsEx.h"
#include "Platform/Runtime/MainThread.h"

#include <condition_variable>
#include <cstdio>

struct TDebuggedProcess::THandOver {
    struct TRequest {
        std::mutex FLock;
        std::condition_variable FDone;
        bool FFinished = false;
        bool FCancelled = false;
        std::function<void()> FWork;
        std::exception_ptr FFailure;
    };
    std::mutex FLock;
    bool FClosing = false;
    std::shared_ptr<TRequest> FPending;

    void Close() {
        std::lock_guard<std::mutex> guard(FLock);
        FClosing = true;
        if (FPending) {
            std::lock_guard<std::mutex> requestGuard(FPending->FLock);
            FPending->FCancelled = true;
            FPending->FDone.notify_all();
        }
    }
};

TDebuggedProcess::TDebuggedProcess(const QString& fileName)
    : FFileName(fileName), FHandOver(std::make_shared<THandOver>()) {
    TV_ASSERT(!fileName.isEmpty());
    FThread = std::make_unique<TDebugThread>(fileName);
    AttachHandlers();
}

TDebuggedProcess::~TDebuggedProcess() {
    // The debug thread may be waiting for the main thread (this one) right
    // now: its pending hand-over is dropped and no new one is made, then the
    // program is ended and the thread runs to its end without us.
    FHandOver->Close();
    if (!FThread->isFinished()) {
        FThread->RequestClose();
        FThread->wait();
    }
    if (const std::exception_ptr fatal = FThread->FatalException()) {
        try {
            std::rethrow_exception(fatal);
        } catch (const std::exception& e) {
            ShowException(e);
        } catch (...) {
        }
    }
}

void TDebuggedProcess::Start() {
    if (FStarted)
        return;
    FStarted = true;
    FThread->start();
}

void TDebuggedProcess::Terminate() {
    FThread->TerminateProcess();
}

void TDebuggedProcess::CloseHandlers() {
    FHandOver->Close();
}

void TDebuggedProcess::AddLine(const QString& line) {
    std::lock_guard<std::mutex> guard(FDebugLinesLock);
    FDebugLines.append(line);
}

void TDebuggedProcess::GetDebugLines(QStringList& lines) const {
    std::lock_guard<std::mutex> guard(FDebugLinesLock);
    lines.clear();
    lines.append(FDebugLines);
}

QStringList TDebuggedProcess::DebugLines() const {
    QStringList lines;
    GetDebugLines(lines);
    return lines;
}

void TDebuggedProcess::HandOver(const std::function<void()>& work) {
    {
        std::lock_guard<std::mutex> guard(FHandOver->FLock);
        if (FHandOver->FClosing)
            return;
    }
    // Without an application object (or on the main thread itself) the work
    // runs here.
    if (IsMainThread()) {
        work();
        return;
    }
    auto request = std::make_shared<THandOver::TRequest>();
    request->FWork = work;
    {
        std::lock_guard<std::mutex> guard(FHandOver->FLock);
        if (FHandOver->FClosing)
            return;
        FHandOver->FPending = request;
    }
    PostToMainThread([request] {
        {
            std::lock_guard<std::mutex> guard(request->FLock);
            if (request->FCancelled)
                return;
        }
        try {
            request->FWork();
        } catch (...) {
            request->FFailure = std::current_exception();
        }
        std::lock_guard<std::mutex> guard(request->FLock);
        request->FFinished = true;
        request->FDone.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(request->FLock);
        request->FDone.wait(lock, [&] { return request->FFinished || request->FCancelled; });
    }
    {
        std::lock_guard<std::mutex> guard(FHandOver->FLock);
        if (FHandOver->FPending == request)
            FHandOver->FPending.reset();
    }
    if (request->FFailure)
        std::rethrow_exception(request->FFailure);
}

void TDebuggedProcess::AttachHandlers() {
    TDebugThread& t = *FThread;
    t.OnCreateProcess = [this](TDebugThread*, TDebugProcessInfo& process) {
        AddLine(Format(QStringLiteral("Program %d elindul"), {process.Id()}));
        if (OnCreateProcess)
            HandOver([&] { OnCreateProcess(this, process); });
    };
    t.OnCreateThread = [this](TDebugThread*, TDebugThreadInfo& thread) {
        AddLine(Format(QStringLiteral("Szál %d elindul"), {thread.Id()}));
        if (OnCreateThread)
            HandOver([&] { OnCreateThread(this, thread); });
    };
    t.OnDebugException = [this](TDebugThread*, TDebugExInfo& debugEx) {
        if (debugEx.IsExternal())
            AddLine(Format(QStringLiteral("Hiba: %s"), {debugEx.OrigMessage()}));
        QImage image;
        TakeScreenShot(image);
        debugEx.SetImage(image);
        if (OnException)
            HandOver([&] { OnException(this, debugEx); });
    };
    t.OnDebugString = [this](TDebugThread*, const QString& message) {
        AddLine(Format(QStringLiteral("Debug üzenet: %s"), {message}));
        if (OnDebugString)
            HandOver([&] { OnDebugString(this, message); });
    };
    t.OnExitProcess = [this](TDebugThread*, TDebugProcessInfo& process) {
        AddLine(Format(QStringLiteral("Program %d leáll"), {process.Id()}));
        if (OnExitProcess)
            HandOver([&] { OnExitProcess(this, process); });
    };
    t.OnExitThread = [this](TDebugThread*, TDebugThreadInfo& thread) {
        AddLine(Format(QStringLiteral("Szál %d leáll"), {thread.Id()}));
        if (OnExitThread)
            HandOver([&] { OnExitThread(this, thread); });
    };
    t.OnLoadDll = [this](TDebugThread*, TDebugLibraryInfo& library) {
        AddLine(Format(QStringLiteral("Modul %s betöltve"), {library.FileName()}));
        if (OnLoadDll)
            HandOver([&] { OnLoadDll(this, library); });
    };
    t.OnRIP = [this](TDebugThread*, uint32_t errorCode, const QString& errorMessage) {
        AddLine(Format(QStringLiteral("RIP: %s"), {errorMessage}));
        if (OnRIP)
            HandOver([&] { OnRIP(this, errorCode, errorMessage); });
    };
    t.OnUnloadDll = [this](TDebugThread*, TDebugLibraryInfo& library) {
        AddLine(Format(QStringLiteral("Modul %s felszabadult"), {library.FileName()}));
        if (OnUnloadDll)
            HandOver([&] { OnUnloadDll(this, library); });
    };
    t.OnShowError = [this](const std::exception& error) {
        bool shown = false;
        HandOver([&] {
            shown = true;
            ShowException(error);
        });
        if (!shown)
            std::fprintf(stderr, "%s\n", error.what());
    };
}

bool TDebuggedProcess::IsRunning() const {
    return !FThread->isFinished();
}

uint32_t TDebuggedProcess::Id() const {
    return IsRunning() ? ProcessInfo().Id() : 0;
}

TDebugThreadInfo* TDebuggedProcess::MainThread() const {
    return FThread->FindThread(ProcessInfo().MainThreadId());
}

void TDebuggedProcess::RefreshTopWindow() {
    FTopWindow = 0;
    // Only the table lookup is needed here: it is locked, so the main
    // thread may ask while the debug thread changes the table.
    if (IsRunning() && ProcessInfo().MainThreadId() != 0 &&
        FThread->HasThread(ProcessInfo().MainThreadId()))
        FTopWindow = FindProcessTopWindow(ProcessInfo().Id());
}

TWindowHandle TDebuggedProcess::TopWindow() {
    RefreshTopWindow();
    return FTopWindow;
}

void TDebuggedProcess::SetForegroundWindow() {
    RefreshTopWindow();
    if (FTopWindow != 0)
        BringWindowToFront(FTopWindow);
}

bool TDebuggedProcess::TakeScreenShot(QImage& image) {
    const TWindowHandle window = TopWindow();
    if (window == 0) {
        image = QImage();
        return false;
    }
    return GrabWindowClientArea(window, image);
}
