#pragma once

#include "Platform/Runtime/Exception.h"

// Re-entrancy guard of one method on one thread (not a thread lock): taking
// succeeds only when free; a taker that fails skips the guarded work.
struct TBooleanLock {
    bool FValue = false;

    bool TryLock() {
        if (FValue)
            return false;
        FValue = true;
        return true;
    }
    void Unlock() {
        TV_ASSERT(FValue);
        FValue = false;
    }
    bool Locked() const { return FValue; }
};

// Holds a taken TBooleanLock and releases it on every exit path.
class TBooleanLockGuard {
public:
    explicit TBooleanLockGuard(TBooleanLock& lock) : FLock(lock), FOwns(lock.TryLock()) {}
    ~TBooleanLockGuard() {
        if (FOwns)
            FLock.Unlock();
    }
    TBooleanLockGuard(const TBooleanLockGuard&) = delete;
    TBooleanLockGuard& operator=(const TBooleanLockGuard&) = delete;
    bool Acquired() const { return FOwns; }

private:
    TBooleanLock& FLock;
    bool FOwns;
};
