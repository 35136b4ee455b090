#pragma once

// One error captured at one moment: class name, title, message, call stack
// and time; the user-facing texts and the plain-text report are built here.

#include <QDateTime>
#include <QStringList>
#include <exception>

class TExceptionInfo {
public:
    enum TErrorType { etNone, etExternal, etSimpleObject, etNative, etExtended };

    TExceptionInfo();
    virtual ~TExceptionInfo() = default;
    TExceptionInfo(const TExceptionInfo&) = delete;
    TExceptionInfo& operator=(const TExceptionInfo&) = delete;

    // The error object is not owned; callers keep it alive while they read
    // the derived texts.
    virtual void SetExceptObject(const std::exception* error);
    // An error object that is not an exception, known by its class name.
    void SetSimpleObject(const QString& className);
    const std::exception* ExceptObject() const { return FExceptObject; }
    void SetParams(const QString& className, const QString& title, const QString& message);

    QString GetTitleFmt(const QString& titleFormat) const;
    QString GetMessageFmt(const QString& messageFormat) const;
    static QString ProperMsgEnding(const QString& message);

    // Appends the plain-text report (nothing for etNone).
    virtual void ToText(QStringList& lines) const;
    QString ToText() const;

    const QString& OrigMessage() const { return FMessage; }
    const QString& OrigClassName() const { return FClassName; }
    const QString& OrigTitle() const { return FTitle; }
    const QStringList& CallStack() const { return FCallStack; }
    TErrorType ErrorType() const { return FErrorType; }
    const QDateTime& Time() const { return FTime; }

    QString Title() const;
    QString Message() const;
    bool HasCallStack() const { return !FCallStack.isEmpty(); }
    bool IsValidError() const { return FErrorType != etNone; }
    bool IsException() const { return FErrorType == etNative || FErrorType == etExtended; }
    bool IsExtendedException() const { return FErrorType == etExtended; }
    bool IsExternal() const { return FErrorType == etExternal; }

protected:
    // Fills the call stack for the error now held; the base empties it.
    virtual void CollectCallStack();

    QString FMessage;
    QString FClassName;
    QString FTitle;
    QStringList FCallStack;
    TErrorType FErrorType = etNone;
    const std::exception* FExceptObject = nullptr;
    QDateTime FTime;
};

// Sets a name=value line of a line list: replaces the line with that name,
// removes it when the value is empty, appends it otherwise.
void SetListValue(QStringList& lines, const QString& name, const QString& value);
