#include "Common/Error/CustomException.h"

#include "Platform/Db/OraError.h"
#include "Platform/Runtime/MainThread.h"

#include <QStringList>
#include <atomic>
#include <cstdio>

namespace {
std::atomic<IExceptionPresenter*> gPresenter{nullptr};

const QString kDefaultCaption = QStringLiteral("Hiba történt");
} // namespace

ECustom::ECustom(const QString& title, const QString& message) : Exception(message), FTitle(title) {
    TV_ASSERT(!message.isEmpty());
}

void ECustom::ShowException(const std::exception& error) {
    ::ShowException(error);
}
void ECustom::ShowException(const std::exception& error, const QString& caption) {
    ::ShowException(error, caption);
}
void ECustom::ShowException(const std::exception& error, const QString& caption,
                            const QString& titleFmt, const QString& messageFmt) {
    ::ShowException(error, caption, titleFmt, messageFmt);
}
void ECustom::ShowException() const {
    ::ShowException(*this);
}
void ECustom::ShowException(const QString& caption) const {
    ::ShowException(*this, caption);
}
void ECustom::ShowException(const QString& caption, const QString& titleFmt,
                            const QString& messageFmt) const {
    ::ShowException(*this, caption, titleFmt, messageFmt);
}

void EUser::RaiseUserError(const QString& title, const QString& message) {
    throw EUser(title, message);
}

IExceptionPresenter* SetExceptionPresenter(IExceptionPresenter* presenter) {
    return gPresenter.exchange(presenter);
}

void ShowException(const std::exception& error, const QString& caption, const QString& titleFmt,
                   const QString& messageFmt) {
    if (dynamic_cast<const EAbort*>(&error) != nullptr)
        return;
    try {
        RunOnMainThread([&] {
            if (IExceptionPresenter* presenter = gPresenter.load()) {
                presenter->Present(error, caption.isEmpty() ? kDefaultCaption : caption, titleFmt,
                                   messageFmt);
            } else {
                std::fprintf(stderr, "%s: %s\n", qPrintable(ClassNameOf(typeid(error))),
                             error.what());
            }
        });
    } catch (...) {
        // Showing an error never raises on its own.
        std::fprintf(stderr, "%s\n", error.what());
    }
}

void IExceptionPresenter::PresentMessage(const QString& caption, const QString& title,
                                         const QString& message) {
    std::fprintf(stderr, "%s: %s\n%s\n", qPrintable(caption), qPrintable(title),
                 qPrintable(message));
}

void ShowErrorMessage(const QString& caption, const QString& title, const QString& message) {
    try {
        RunOnMainThread([&] {
            if (IExceptionPresenter* presenter = gPresenter.load())
                presenter->PresentMessage(caption, title, message);
            else
                std::fprintf(stderr, "%s: %s\n%s\n", qPrintable(caption), qPrintable(title),
                             qPrintable(message));
        });
    } catch (...) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
    }
}

void ShowCurrentException(const QString& caption, const QString& titleFmt,
                          const QString& messageFmt) {
    try {
        throw;
    } catch (const std::exception& e) {
        ShowException(e, caption, titleFmt, messageFmt);
    } catch (...) {
        ShowException(Exception(QStringLiteral("Unknown exception")), caption, titleFmt,
                      messageFmt);
    }
}

bool IsOracleNetworkError(const QString& text) {
    static const char* const codes[] = {"ORA-03113", "ORA-12537", "ORA-03114", "ORA-12571",
                                        "ORA-12547"};
    for (const char* code : codes) {
        if (text.contains(QLatin1String(code), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool IsSSHNetworkError(const QString& text) {
    return text.contains(QLatin1String("Cannot send data to server"), Qt::CaseInsensitive) ||
           text.contains(QLatin1String("Socket closed. Cannot receive data"), Qt::CaseInsensitive);
}

bool GetServerErrorMessage(const std::exception& error, QString& templateText) {
    if (const auto* ora = dynamic_cast<const EOraError*>(&error)) {
        if (ora->ErrorCode() > 20000)
            templateText = ora->Message();
    }
    return !templateText.isEmpty();
}
