#pragma once

// Exception information of an error raised in this program: its call stack
// comes from the stack trace recorded when the error was thrown.

#include "Common/Error/ExceptionInfo.h"

#include <QList>

#include <cstdint>

class TLocalExInfo : public TExceptionInfo {
public:
    TLocalExInfo() = default;

protected:
    void CollectCallStack() override;
};

// Recording of a stack trace at every throw in this program; on while this
// unit is initialised.
void StartRaiseTraceRecording();
void StopRaiseTraceRecording();
bool IsRaiseTraceRecording();
// Return addresses of the last throw on the calling thread, innermost first
// (the throwing function first); empty when nothing was recorded.
QList<uintptr_t> LastRaiseTrace();
