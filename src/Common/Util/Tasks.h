#pragma once

// An ordered list of named steps ("tasks") run one after the other. The
// runners with progress display live in Common/Util/Ui/ProgressTasks.h.

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class TTask {
public:
    explicit TTask(const QString& caption = QString());
    virtual ~TTask() = default;
    TTask(const TTask&) = delete;
    TTask& operator=(const TTask&) = delete;

    // Interrupts the task when it runs something that can be interrupted.
    virtual void Abort() {}
    // Class name of the task ("TMethodTask").
    virtual QString TypeName() const;
    virtual QString Caption() const;
    virtual void Execute() = 0;

protected:
    QString FCaption;
};

// Calls a method.
class TMethodTask : public TTask {
public:
    using TProc = std::function<void()>;
    TMethodTask(const QString& caption, TProc proc);
    void Execute() override;

protected:
    TProc FProc;
};

// Receives the sub-progress of the task being run (the start-up runner's
// second bar and label).
class ISubProgress {
public:
    virtual ~ISubProgress() = default;
    virtual void ResetSubProgress() = 0;
    virtual void DoSubProgress(const QString& message, int min, int max, int position) = 0;
};

// A method task whose runner shows a sub-step message and sub-progress.
class TStartupTask : public TMethodTask {
public:
    TStartupTask(ISubProgress* owner, const QString& caption, TProc proc);
    void Execute() override;
    void DoProgress(const QString& message, int min, int max, int position);

protected:
    ISubProgress* FOwner;
};

class TTasks;

class TTasksEnumerator {
public:
    explicit TTasksEnumerator(const TTasks& list) : FList(list) {}
    bool MoveNext();
    TTask* Current() const;

private:
    const TTasks& FList;
    int FIndex = -1;
};

class TTasks {
public:
    TTasks() = default;
    virtual ~TTasks();
    TTasks(const TTasks&) = delete;
    TTasks& operator=(const TTasks&) = delete;

    // Takes ownership; only while idle.
    TTask* Add(std::unique_ptr<TTask> task);
    template <class T, class... Args> T* AddNew(Args&&... args) {
        auto task = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = task.get();
        Add(std::move(task));
        return raw;
    }
    // Removes and frees the task; only while idle.
    void Remove(TTask* task);
    void Clear();
    int Count() const { return int(FTasks.size()); }
    TTask* Item(int index) const { return FTasks.at(size_t(index)).get(); }
    TTasksEnumerator GetEnumerator() const { return TTasksEnumerator(*this); }

    virtual void ExecuteTask(TTask* task);
    virtual void Execute();
    virtual void Abort();

    bool Running() const { return FRunning; }
    bool Aborted() const { return FAborted; }
    TTask* Current() const { return FCurrent; }
    bool BreakOnError() const { return FBreakOnError; }
    void SetBreakOnError(bool value) { FBreakOnError = value; }

    // Handler of exceptions of tasks that do not break the run (main thread,
    // BreakOnError off); by default ShowCurrentException.
    static void SetCentralExceptionHandler(std::function<void()> handler);

protected:
    std::vector<std::unique_ptr<TTask>> FTasks;
    bool FRunning = false;
    bool FAborted = false;
    TTask* FCurrent = nullptr;
    bool FBreakOnError = true;
};
