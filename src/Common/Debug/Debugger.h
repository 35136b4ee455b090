#pragma once

// The process-wide debugger: every supervised program started during the
// run, in start order. Used on the main thread only.

#include "Common/Debug/DebuggedProcess.h"
#include "Common/Error/CustomException.h"

#include <memory>
#include <vector>

class TDebugger {
public:
    class EDebug : public ECustom {
    public:
        using ECustom::ECustom;
        TV_EXCEPTION_RAISE(EDebug)
    };

    class TEnumerator {
    public:
        explicit TEnumerator(const std::vector<std::unique_ptr<TDebuggedProcess>>& list)
            : FList(list) {}
        bool MoveNext() { return ++FIndex < static_cast<int>(FList.size()); }
        TDebuggedProcess* Current() const { return FList[static_cast<size_t>(FIndex)].get(); }

    private:
        const std::vector<std::unique_ptr<TDebuggedProcess>>& FList;
        int FIndex = -1;
    };

    TDebugger() = default;
    // Ends every program still running, then releases the entries (each
    // waits for its debug thread).
    ~TDebugger();
    TDebugger(const TDebugger&) = delete;
    TDebugger& operator=(const TDebugger&) = delete;

    // Starts supervising a program file; AStart false leaves its debug
    // thread suspended until the caller has attached its handlers and calls
    // TDebuggedProcess::Start. The object stays owned by the debugger.
    TDebuggedProcess* DebugProcess(const QString& fileName, bool start);

    int Count() const { return static_cast<int>(FItems.size()); }
    bool IsActive() const;
    TDebuggedProcess* Item(int index) const { return FItems.at(static_cast<size_t>(index)).get(); }
    std::unique_ptr<TEnumerator> GetEnumerator() const {
        return std::make_unique<TEnumerator>(FItems);
    }
    // Range-for over the entries.
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<std::unique_ptr<TDebuggedProcess>> FItems;
};

// The one debugger of the program run: created on first use, destroyed with
// the program's other process-wide objects (DestroyDebugger).
TDebugger& Debugger();
void DestroyDebugger();
