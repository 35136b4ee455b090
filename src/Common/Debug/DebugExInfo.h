#pragma once

// Crash information of a supervised program: filled from the exception
// record of a debug event, the program's memory and its map file.

#include "Common/Debug/DebugInfo.h"
#include "Common/Error/ExImgInfo.h"

class TDebugExInfo : public TExImgInfo {
public:
    TDebugExInfo() = default;

    void CollectErrorInfo(TDebugProcessInfo* process, TDebugThreadInfo* thread,
                          const TDebugExceptionRecord& error);

    uint32_t ErrorCode() const { return FError.ExceptionCode; }
    const TDebugExceptionRecord& Error() const { return FError; }
    // The records it was collected from (valid during the exception event).
    TDebugProcessInfo* Process() const { return FProcess; }
    TDebugThreadInfo* Thread() const { return FThread; }

    // Class name and message of a system exception code (not the language
    // runtime's own); the access-violation text is built by the caller.
    static bool SystemExceptionText(uint32_t code, QString& className, QString& message);
    // "%p": at least 8 upper-case hexadecimal digits.
    static QString AddressText(uint64_t address);

protected:
    void CollectCallStack() override;

private:
    void ReadLanguageException(QString& className, QString& message) const;
    QString AccessViolationText() const;

    TDebugProcessInfo* FProcess = nullptr;
    TDebugThreadInfo* FThread = nullptr;
    TDebugExceptionRecord FError;
};
