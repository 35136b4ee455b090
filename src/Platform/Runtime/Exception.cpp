#include "Platform/Runtime/Exception.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <cxxabi.h>
#include <memory>

QString ClassNameOf(const std::type_info& type) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    QString name = QString::fromUtf8(status == 0 && demangled ? demangled.get() : type.name());
    name.remove(QLatin1String("(anonymous namespace)::"));
    // Nested classes are written with a dot ("TSqlHelper.ESql").
    if (!name.startsWith(QLatin1String("std::")))
        name.replace(QLatin1String("::"), QLatin1String("."));
    return name;
}

Exception::Exception(QString message) : FMessage(std::move(message)), FWhat(FMessage.toUtf8()) {}

void Exception::SetMessage(const QString& message) {
    FMessage = message;
    FWhat = message.toUtf8();
}

EOSError::EOSError(QString message, int errorCode)
    : Exception(std::move(message)), FErrorCode(errorCode) {}

void RaiseLastOSError(const QString& context, int errorCode) {
    const int code = errorCode >= 0 ? errorCode : errno;
    QString text = QString::fromLocal8Bit(std::strerror(code));
    if (!context.isEmpty())
        text = context + QStringLiteral(": ") + text;
    throw EOSError(text, code);
}

EAssertionFailed::EAssertionFailed(const QString& expression, const char* file, int line)
    : Exception(QStringLiteral("Assertion failed: %1 (%2, line %3)")
                    .arg(expression, QFileInfo(QString::fromLocal8Bit(file)).fileName())
                    .arg(line)) {}

QString ExceptionMessage(const std::exception& e) {
    if (const auto* own = dynamic_cast<const Exception*>(&e))
        return own->Message();
    return QString::fromUtf8(e.what());
}
