#pragma once

#include <functional>

// True on the thread that runs the application's event loop (or, before an
// application object exists, on any thread).
bool IsMainThread();

// Runs the work on the main thread and waits for it; runs it at once when the
// caller already is the main thread. An exception thrown by the work is
// re-thrown in the caller.
void RunOnMainThread(const std::function<void()>& work);

// Posts the work to the main thread's event loop and returns at once.
void PostToMainThread(std::function<void()> work);
