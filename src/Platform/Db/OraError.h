#pragma once

#include "Platform/Runtime/Exception.h"

// A database error in the form the program expects from its database
// library: an Oracle-style code and message ("ORA-03113: ...").
class EOraError : public Exception {
public:
    EOraError(int errorCode, const QString& message) : Exception(message), FErrorCode(errorCode) {}
    int ErrorCode() const { return FErrorCode; }
    TV_EXCEPTION_RAISE(EOraError)

private:
    int FErrorCode;
};
