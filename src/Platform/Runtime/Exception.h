#pragma once

// The runtime's exception family: every failure of the program is an
// exception derived from Exception, which carries a message text.

#include <QByteArray>
#include <QString>
#include <exception>
#include <typeinfo>

// Class name of an object's dynamic type, without namespace qualifiers
// ("ECustom", "EConvertError"); used wherever a class name is shown.
QString ClassNameOf(const std::type_info& type);

class Exception : public std::exception {
public:
    explicit Exception(QString message);
    ~Exception() override = default;
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;

    const QString& Message() const { return FMessage; }
    void SetMessage(const QString& message);
    // Class name of the dynamic type.
    QString ClassName() const { return ClassNameOf(typeid(*this)); }
    const char* what() const noexcept override { return FWhat.constData(); }

    // Every exception can be re-thrown with its dynamic type kept.
    [[noreturn]] virtual void Raise() const { throw *this; }

private:
    QString FMessage;
    QByteArray FWhat;
};

// NOLINTBEGIN(bugprone-macro-parentheses): class names cannot be parenthesised.
// Declares the copy-raise of an exception class.
#define TV_EXCEPTION_RAISE(Class)                                                                  \
    [[noreturn]] void Raise() const override {                                                     \
        throw *this;                                                                               \
    }

// Declares an exception class with the inherited constructors.
#define TV_DECLARE_EXCEPTION(Class, Base)                                                          \
    class Class : public Base {                                                                    \
    public:                                                                                        \
        using Base::Base;                                                                          \
        TV_EXCEPTION_RAISE(Class)                                                                  \
    }

// NOLINTEND(bugprone-macro-parentheses)

// The silent abort: never shown to the user.
TV_DECLARE_EXCEPTION(EAbort, Exception);
// A text that cannot be converted to the wanted value.
TV_DECLARE_EXCEPTION(EConvertError, Exception);
// A failed operating-system call; the message is the system's own text.
class EOSError : public Exception {
public:
    explicit EOSError(QString message, int errorCode = 0);
    int ErrorCode() const { return FErrorCode; }
    TV_EXCEPTION_RAISE(EOSError)
private:
    int FErrorCode;
};
// Raises the operating-system error for errno (or the given code).
[[noreturn]] void RaiseLastOSError(const QString& context = QString(), int errorCode = -1);
TV_DECLARE_EXCEPTION(EInOutError, Exception);

// A violated precondition: a programming error, not a user mistake. Its
// message names the source file and line; it travels the ordinary error path.
class EAssertionFailed : public Exception {
public:
    EAssertionFailed(const QString& expression, const char* file, int line);
    TV_EXCEPTION_RAISE(EAssertionFailed)
};

#define TV_ASSERT(cond)                                                                            \
    do {                                                                                           \
        if (!(cond))                                                                               \
            throw ::EAssertionFailed(QStringLiteral(#cond), __FILE__, __LINE__);                   \
    } while (false)

// Message text of any exception object: our own Message(), else what().
QString ExceptionMessage(const std::exception& e);
