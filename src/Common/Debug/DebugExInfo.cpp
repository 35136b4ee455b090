#include "Common/Debug/DebugExInfo.h"

#include "Common/Util/StrUtilsEx.h"
#include "Platform/Runtime/Exception.h"

#include <QFileInfo>

#include <cstring>
#include <cxxabi.h>
#include <memory>
#include <set>

using namespace DebugApi;

namespace {

constexpr int kMaxText = 65536;

uint64_t ReadPointer(IProcessControl& control, uint64_t address) {
    const QByteArray bytes = control.ReadProcessMemory(address, 8);
    uint64_t value = 0;
    std::memcpy(&value, bytes.constData(), 8);
    return value;
}

QByteArray ReadCString(IProcessControl& control, uint64_t address) {
    QByteArray text;
    while (text.size() < kMaxText) {
        const QByteArray byte = control.ReadProcessMemory(address + text.size(), 1);
        if (byte.at(0) == '\0')
            break;
        text += byte;
    }
    return text;
}

// The name of a type_info object of the C++ runtime (Itanium ABI: vtable
// pointer, then the mangled name).
QByteArray TypeName(IProcessControl& control, uint64_t typeInfo) {
    return ReadCString(control, ReadPointer(control, typeInfo + 8));
}

// Which kind of class description a type_info is: the type_info of its own
// class is found through its vtable (the slot before the first function).
QByteArray TypeInfoKind(IProcessControl& control, uint64_t typeInfo) {
    const uint64_t vtable = ReadPointer(control, typeInfo);
    const uint64_t rtti = ReadPointer(control, vtable - 8);
    return TypeName(control, rtti);
}

QString DemangleType(const QByteArray& mangled) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> text(
        abi::__cxa_demangle(mangled.constData(), nullptr, nullptr, &status), &std::free);
    QString name = QString::fromUtf8(status == 0 && text ? text.get() : mangled.constData());
    // The class-name form used for every error: nested names with dots.
    if (!name.startsWith(QLatin1String("std::")))
        name.replace(QLatin1String("::"), QLatin1String("."));
    return name;
}

// Finds std::runtime_error or std::logic_error among the bases of a class;
// answers the offset of that base inside the object, or -1.
qint64 FindMessageBase(IProcessControl& control, uint64_t typeInfo, int depth = 0) {
    if (typeInfo == 0 || depth > 32)
        return -1;
    const QByteArray name = TypeName(control, typeInfo);
    if (name == "St13runtime_error" || name == "St11logic_error")
        return 0;
    const QByteArray kind = TypeInfoKind(control, typeInfo);
    if (kind == "N10__cxxabiv120__si_class_type_infoE")
        return FindMessageBase(control, ReadPointer(control, typeInfo + 16), depth + 1);
    if (kind == "N10__cxxabiv121__vmi_class_type_infoE") {
        const QByteArray counts = control.ReadProcessMemory(typeInfo + 16, 8);
        uint32_t baseCount = 0;
        std::memcpy(&baseCount, counts.constData() + 4, 4);
        for (uint32_t i = 0; i < baseCount && i < 64; ++i) {
            const uint64_t entry = typeInfo + 24 + 16 * i;
            const uint64_t base = ReadPointer(control, entry);
            const auto offsetFlags = static_cast<int64_t>(ReadPointer(control, entry + 8));
            if ((offsetFlags & 1) != 0)
                continue; // a virtual base: its place is only known at run time
            const qint64 inner = FindMessageBase(control, base, depth + 1);
            if (inner >= 0)
                return (offsetFlags >> 8) + inner;
        }
    }
    return -1;
}

} // namespace

QString TDebugExInfo::AddressText(uint64_t address) {
    return QString::number(address, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

bool TDebugExInfo::SystemExceptionText(uint32_t code, QString& className, QString& message) {
    struct TEntry {
        uint32_t FCode;
        const char* FClass;
        const char* FMessage;
    };
    static const TEntry table[] = {
        {EXCEPTION_INT_DIVIDE_BY_ZERO, "EDivByZero", "Division by zero"},
        {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, "ERangeError", "Range check error"},
        {EXCEPTION_INT_OVERFLOW, "EIntOverflow", "Integer overflow"},
        {EXCEPTION_FLT_INEXACT_RESULT, "EInvalidOp", "Invalid floating point operation"},
        {EXCEPTION_FLT_INVALID_OPERATION, "EInvalidOp", "Invalid floating point operation"},
        {EXCEPTION_FLT_STACK_CHECK, "EInvalidOp", "Invalid floating point operation"},
        {EXCEPTION_FLT_DIVIDE_BY_ZERO, "EZeroDivide", "Floating point division by zero"},
        {EXCEPTION_FLT_OVERFLOW, "EOverflow", "Floating point overflow"},
        {EXCEPTION_FLT_DENORMAL_OPERAND, "EUnderflow", "Floating point underflow"},
        {EXCEPTION_FLT_UNDERFLOW, "EUnderflow", "Floating point underflow"},
        {EXCEPTION_PRIV_INSTRUCTION, "EPrivilege", "Privileged instruction"},
        {CONTROL_C_EXIT, "EControlC", "Control-C hit"},
        {EXCEPTION_STACK_OVERFLOW, "EStackOverflow", "Stack overflow"},
        {EXCEPTION_ACCESS_VIOLATION, "EAccessViolation", ""},
    };
    for (const TEntry& entry : table) {
        if (entry.FCode == code) {
            className = QString::fromLatin1(entry.FClass);
            message = QString::fromLatin1(entry.FMessage);
            return true;
        }
    }
    className = QStringLiteral("EExternalException");
    message = QStringLiteral("External exception %1").arg(QString::number(code, 16).toUpper());
    return false;
}

void TDebugExInfo::CollectErrorInfo(TDebugProcessInfo* process, TDebugThreadInfo* thread,
                                    const TDebugExceptionRecord& error) {
    TV_ASSERT(process != nullptr);
    TV_ASSERT(thread != nullptr);
    FProcess = process;
    FThread = thread;
    FError = error;

    const uint32_t code = error.ExceptionCode;
    if (code >= LANGUAGE_NOTIFY_FIRST && code <= LANGUAGE_NOTIFY_LAST)
        return;
    QString className;
    QString message;
    if (code == LANGUAGE_EXCEPTION) {
        ReadLanguageException(className, message);
    } else {
        SystemExceptionText(code, className, message);
        if (code == EXCEPTION_ACCESS_VIOLATION)
            message = AccessViolationText();
    }
    SetParams(className, QString(), message);
}

void TDebugExInfo::ReadLanguageException(QString& className, QString& message) const {
    TV_ASSERT(FProcess->Control() != nullptr);
    IProcessControl& control = *FProcess->Control();
    const uint64_t object = FError.ExceptionInformation[1];
    const uint64_t typeInfo = FError.ExceptionInformation[2];
    TV_ASSERT(object != 0);
    TV_ASSERT(typeInfo != 0);
    className = DemangleType(TypeName(control, typeInfo));
    message.clear();
    const qint64 offset = FindMessageBase(control, typeInfo);
    if (offset < 0)
        return;
    // The standard error classes hold their text behind one pointer after
    // the vtable pointer.
    const uint64_t text = ReadPointer(control, object + static_cast<uint64_t>(offset) + 8);
    if (text != 0)
        message = QString::fromUtf8(ReadCString(control, text));
}

QString TDebugExInfo::AccessViolationText() const {
    const QString kind =
        FError.ExceptionInformation[0] == 0 ? QStringLiteral("Read") : QStringLiteral("Write");
    const uint64_t at = FError.ExceptionAddress;
    const uint64_t target = FError.ExceptionInformation[1];
    TMemoryRegionInfo region;
    if (FProcess->Control() != nullptr)
        region = FProcess->Control()->QueryMemory(at);
    if (region.Committed && !region.ModuleFileName.isEmpty())
        return QStringLiteral("Access violation at address %1 in module '%2'. %3 of address %4")
            .arg(AddressText(at), QFileInfo(region.ModuleFileName).fileName(), kind,
                 AddressText(target));
    return QStringLiteral("Access violation at address %1. %2 of address %3")
        .arg(AddressText(at), kind, AddressText(target));
}

void TDebugExInfo::CollectCallStack() {
    FCallStack.clear();
    if (!IsExternal() || FThread == nullptr || FProcess == nullptr)
        return;
    const QList<uint64_t> trace = FThread->GetStackTrace();
    QStringList lines;
    for (int i = 0; i < trace.size(); ++i) {
        TLocationInfo info;
        if (FProcess->GetLocationInfo(trace[i], info))
            lines.append(Format(QStringLiteral("%.2d: %s (%u): %s"),
                                {QVariant(i + 1), QVariant(info.SourceName),
                                 QVariant(info.LineNumber), QVariant(info.ProcedureName)}));
        else
            lines.append(Format(QStringLiteral("%.2d: ismeretlen"), {QVariant(i + 1)}));
    }
    FCallStack = lines;
}
