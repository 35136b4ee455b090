#include "Common/Util/Tasks.h"

#include "Common/Error/CustomException.h"
#include "Platform/Runtime/Exception.h"
#include "Platform/Runtime/MainThread.h"

#include <algorithm>

namespace {
std::function<void()>& CentralHandler() {
    static std::function<void()> handler;
    return handler;
}
} // namespace

TTask::TTask(const QString& caption) : FCaption(caption) {}

QString TTask::TypeName() const {
    return ClassNameOf(typeid(*this));
}

QString TTask::Caption() const {
    return FCaption.isEmpty() ? TypeName() : FCaption;
}

TMethodTask::TMethodTask(const QString& caption, TProc proc)
    : TTask(caption), FProc(std::move(proc)) {
    TV_ASSERT(FProc != nullptr);
}

void TMethodTask::Execute() {
    FProc();
}

TStartupTask::TStartupTask(ISubProgress* owner, const QString& caption, TProc proc)
    : TMethodTask(caption, std::move(proc)), FOwner(owner) {
    TV_ASSERT(FOwner != nullptr);
}

void TStartupTask::Execute() {
    DoProgress(QString(), 0, 0, 0);
    FProc();
}

void TStartupTask::DoProgress(const QString& message, int min, int max, int position) {
    FOwner->DoSubProgress(message, min, max, position);
}

bool TTasksEnumerator::MoveNext() {
    return ++FIndex < FList.Count();
}

TTask* TTasksEnumerator::Current() const {
    TV_ASSERT(FIndex >= 0 && FIndex < FList.Count());
    return FList.Item(FIndex);
}

TTasks::~TTasks() = default;

TTask* TTasks::Add(std::unique_ptr<TTask> task) {
    TV_ASSERT(!FRunning);
    TV_ASSERT(task != nullptr);
    FTasks.push_back(std::move(task));
    return FTasks.back().get();
}

void TTasks::Remove(TTask* task) {
    TV_ASSERT(!FRunning);
    TV_ASSERT(task != nullptr);
    auto it = std::find_if(FTasks.begin(), FTasks.end(),
                           [task](const std::unique_ptr<TTask>& t) { return t.get() == task; });
    if (it != FTasks.end())
        FTasks.erase(it);
}

void TTasks::Clear() {
    TV_ASSERT(!FRunning);
    FTasks.clear();
}

void TTasks::ExecuteTask(TTask* task) {
    struct CurrentGuard {
        TTask*& ref;
        ~CurrentGuard() { ref = nullptr; }
    } guard{FCurrent};
    FCurrent = task;
    try {
        task->Execute();
    } catch (...) {
        if (FBreakOnError || !IsMainThread())
            throw;
        if (CentralHandler())
            CentralHandler()();
        else
            ShowCurrentException();
    }
}

void TTasks::Execute() {
    FAborted = false;
    FRunning = true;
    struct RunningGuard {
        bool& ref;
        ~RunningGuard() { ref = false; }
    } guard{FRunning};
    for (size_t i = 0; i < FTasks.size(); ++i) {
        if (FAborted)
            break;
        ExecuteTask(FTasks[i].get());
    }
}

void TTasks::Abort() {
    FAborted = true;
    if (FCurrent != nullptr)
        FCurrent->Abort();
}

void TTasks::SetCentralExceptionHandler(std::function<void()> handler) {
    CentralHandler() = std::move(handler);
}
