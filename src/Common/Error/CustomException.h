#pragma once

#include "Common/Util/StrUtilsEx.h"
#include "Platform/Runtime/Exception.h"

#include <QVariant>

#include <QString>
#include <exception>

// The program's own exception: a message and a short title shown above it.
class ECustom : public Exception {
public:
    // Title and message taken unchanged; the message must not be empty.
    ECustom(const QString& title, const QString& message);
    // The message is the format filled with the arguments, passed through the
    // article fix. Arguments fill "%s", "%d" and the like in order.
    template <class... Args>
    static ECustom CreateFmt(const QString& title, const QString& format, const Args&... args);

    const QString& Title() const { return FTitle; }
    void SetTitle(const QString& title) { FTitle = title; }
    TV_EXCEPTION_RAISE(ECustom)

    // The three ways of showing, as for every exception.
    static void ShowException(const std::exception& error);
    static void ShowException(const std::exception& error, const QString& caption);
    static void ShowException(const std::exception& error, const QString& caption,
                              const QString& titleFmt, const QString& messageFmt);
    void ShowException() const;
    void ShowException(const QString& caption) const;
    void ShowException(const QString& caption, const QString& titleFmt,
                       const QString& messageFmt) const;

private:
    QString FTitle;
};

// An error the user caused and can put right; never becomes a ticket.
class EUser : public ECustom {
public:
    using ECustom::ECustom;
    TV_EXCEPTION_RAISE(EUser)
    [[noreturn]] static void RaiseUserError(const QString& title, const QString& message);
    template <class... Args>
    [[noreturn]] static void RaiseUserErrorFmt(const QString& title, const QString& format,
                                               const Args&... args);
};

// A login refused by the server.
class EAuthFailed : public ECustom {
public:
    using ECustom::ECustom;
    TV_EXCEPTION_RAISE(EAuthFailed)
};

// Receives every exception that is to be shown; the error window (or a test)
// installs itself here. Called on the main thread only.
class IExceptionPresenter {
public:
    virtual ~IExceptionPresenter() = default;
    virtual void Present(const std::exception& error, const QString& caption,
                         const QString& titleFmt, const QString& messageFmt) = 0;
    // The error window's direct message: caption, title and message as given.
    virtual void PresentMessage(const QString& caption, const QString& title,
                                const QString& message);
};
// Installs the presenter (none: exceptions are written to standard error).
// Answers the previous one.
IExceptionPresenter* SetExceptionPresenter(IExceptionPresenter* presenter);

// Shows an exception through the one error window: nothing for a silent
// abort; otherwise on the main thread, the caller waiting when it is another.
void ShowException(const std::exception& error,
                   const QString& caption = QStringLiteral("Hiba történt"),
                   const QString& titleFmt = QString(), const QString& messageFmt = QString());
// Shows an error message in the error window: caption, title and message.
void ShowErrorMessage(const QString& caption, const QString& title, const QString& message);
// Shows whatever exception is being handled (inside a catch block).
void ShowCurrentException(const QString& caption = QStringLiteral("Hiba történt"),
                          const QString& titleFmt = QString(),
                          const QString& messageFmt = QString());

bool IsOracleNetworkError(const QString& text);
bool IsSSHNetworkError(const QString& text);
// For an Oracle application error (code above 20000) the template becomes the
// error's message; answers whether the template is now non-empty.
bool GetServerErrorMessage(const std::exception& error, QString& templateText);

// ---- implementation of the templates

template <class... Args>
ECustom ECustom::CreateFmt(const QString& title, const QString& format, const Args&... args) {
    TV_ASSERT(!format.isEmpty());
    return ECustom(title, FixArticle(Format(format, {QVariant(args)...})));
}

template <class... Args>
void EUser::RaiseUserErrorFmt(const QString& title, const QString& format, const Args&... args) {
    throw EUser(title, FixArticle(Format(format, {QVariant(args)...})));
}
