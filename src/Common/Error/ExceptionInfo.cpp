#include "Common/Error/ExceptionInfo.h"

#include "Common/Error/CustomException.h"
#include "Common/Util/StrUtilsEx.h"
#include "Platform/Db/OraError.h"

namespace {
const QString kTitleTemplate =
    QStringLiteral("Egy %s típusú hiba történt a művelet végrehajtása közben.");
const QString kMessageTemplate =
    QStringLiteral("A művelet sajnos a(z) %s hiba miatt megszakadt és nem sikerült. Javítsa ki "
                   "a hibát, és próbálja újra.");

bool IsTrimmable(QChar c) {
    return c.isSpace() || c.category() == QChar::Other_Control;
}
} // namespace

void SetListValue(QStringList& lines, const QString& name, const QString& value) {
    const QString prefix = name + QLatin1Char('=');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines.at(i).startsWith(prefix, Qt::CaseInsensitive)) {
            if (value.isEmpty())
                lines.removeAt(i);
            else
                lines[i] = prefix + value;
            return;
        }
    }
    if (!value.isEmpty())
        lines.append(prefix + value);
}

TExceptionInfo::TExceptionInfo() : FTime(QDateTime::currentDateTime()) {}

void TExceptionInfo::SetExceptObject(const std::exception* error) {
    FExceptObject = error;
    FTitle.clear();
    FMessage.clear();
    FClassName.clear();
    if (error == nullptr) {
        FErrorType = etNone;
    } else if (const auto* custom = dynamic_cast<const ECustom*>(error)) {
        FErrorType = etExtended;
        FTitle = custom->Title();
    } else {
        FErrorType = etNative;
    }
    if (error != nullptr) {
        FMessage = ExceptionMessage(*error);
        FClassName = ClassNameOf(typeid(*error));
    }
    CollectCallStack();
}

void TExceptionInfo::SetSimpleObject(const QString& className) {
    FExceptObject = nullptr;
    FErrorType = className.isEmpty() ? etNone : etSimpleObject;
    FTitle.clear();
    FMessage.clear();
    FClassName = className;
    CollectCallStack();
}

void TExceptionInfo::SetParams(const QString& className, const QString& title,
                               const QString& message) {
    FErrorType = className.isEmpty() ? etNone : etExternal;
    FExceptObject = nullptr;
    FClassName = className;
    FTitle = title;
    FMessage = message;
    CollectCallStack();
}

void TExceptionInfo::CollectCallStack() {
    FCallStack.clear();
}

QString TExceptionInfo::ProperMsgEnding(const QString& message) {
    QString text = FixArticle(message);
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsTrimmable(text.at(begin)))
        ++begin;
    while (end > begin && IsTrimmable(text.at(end - 1)))
        --end;
    text = text.mid(begin, end - begin);
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    return text;
}

QString TExceptionInfo::GetTitleFmt(const QString& titleFormat) const {
    if (FErrorType == etNone)
        return {};
    const QString format = titleFormat.isEmpty() ? kTitleTemplate : titleFormat;
    const QString arg = FTitle.isEmpty() ? FClassName : FTitle;
    return ProperMsgEnding(Format(format, {arg}));
}

QString TExceptionInfo::GetMessageFmt(const QString& messageFormat) const {
    if (FErrorType == etNone)
        return {};
    QString format = messageFormat;
    if (format.isEmpty()) {
        format = kMessageTemplate;
        if (FExceptObject != nullptr) {
            if (const auto* ora = dynamic_cast<const EOraError*>(FExceptObject);
                ora != nullptr && ora->ErrorCode() > 20000)
                format = ora->Message();
        }
    }
    const QString arg = FMessage.isEmpty() ? FClassName : FMessage;
    return ProperMsgEnding(Format(format, {arg}));
}

QString TExceptionInfo::Title() const {
    switch (FErrorType) {
    case etExtended:
        return FTitle;
    case etNative:
        return GetTitleFmt(QString());
    default:
        return {};
    }
}

QString TExceptionInfo::Message() const {
    switch (FErrorType) {
    case etExtended:
        return FMessage;
    case etNative:
        return GetMessageFmt(QString());
    default:
        return {};
    }
}

void TExceptionInfo::ToText(QStringList& lines) const {
    if (FErrorType == etNone)
        return;
    lines.append(QStringLiteral("Hiba információk"));
    lines.append(QString());
    SetListValue(lines, QStringLiteral("Hiba időpontja"), FormatErrorTime(FTime));
    SetListValue(lines, QStringLiteral("Hiba típus"), FClassName);
    SetListValue(lines, QStringLiteral("Hiba üzenet"), FMessage);
    lines.append(QString(80, QLatin1Char('-')));
    lines.append(QStringLiteral("Hívási lánc"));
    lines.append(QString());
    lines.append(FCallStack);
}

QString TExceptionInfo::ToText() const {
    QStringList lines;
    ToText(lines);
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    return text;
}
