#pragma once

// Test helpers: installs the scripted process-control layer for the debug
// threads created while a TFakeLayerScope lives, and builds debuggee memory.

#include "Platform/Debug/FakeProcessControl.h"

#include <QTemporaryDir>

#include <cstring>

class TFakeLayerScope {
public:
    TFakeLayerScope() : FDebuggee(std::make_shared<TFakeDebuggee>()) {
        auto debuggee = FDebuggee;
        FPrevious = SetProcessControlFactory(
            [debuggee] { return std::make_unique<TFakeProcessControl>(debuggee); });
    }
    ~TFakeLayerScope() { SetProcessControlFactory(FPrevious); }
    TFakeLayerScope(const TFakeLayerScope&) = delete;
    TFakeLayerScope& operator=(const TFakeLayerScope&) = delete;
    TFakeDebuggee& Debuggee() { return *FDebuggee; }

private:
    std::shared_ptr<TFakeDebuggee> FDebuggee;
    TProcessControlFactory FPrevious;
};

inline QByteArray Words(std::initializer_list<uint64_t> words) {
    QByteArray bytes;
    for (uint64_t w : words)
        bytes.append(reinterpret_cast<const char*>(&w), 8);
    return bytes;
}

inline QByteArray CString(const char* text) {
    return QByteArray(text, int(std::strlen(text)) + 1);
}

// Debuggee memory of a thrown C++ object as the Itanium ABI lays it out: a
// class "TDemoError" derived (single inheritance) from std::runtime_error
// with the given message (none: a null text pointer). Answers the object's
// and its type_info's addresses.
struct TScriptedThrow {
    uint64_t Object = 0x50000;
    uint64_t TypeInfo = 0x51000;
};
inline TScriptedThrow ScriptThrow(TFakeDebuggee& d, const char* message,
                                  const char* typeName = "10TDemoError") {
    TScriptedThrow t;
    const uint64_t siVtable = 0x52000;    // __si_class_type_info vtable
    const uint64_t classVtable = 0x52100; // __class_type_info vtable
    const uint64_t siRtti = 0x53000;      // its own type_info
    const uint64_t classRtti = 0x53100;
    const uint64_t runtimeError = 0x51100; // type_info of std::runtime_error
    const uint64_t stdException = 0x51200; // type_info of std::exception
    const uint64_t names = 0x54000;
    d.SetMemory(siVtable, Words({siRtti, 0x1111}));
    d.SetMemory(classVtable, Words({classRtti, 0x2222}));
    d.SetMemory(siRtti, Words({0, names + 0x100}));
    d.SetMemory(classRtti, Words({0, names + 0x200}));
    d.SetMemory(names + 0x100, CString("N10__cxxabiv120__si_class_type_infoE"));
    d.SetMemory(names + 0x200, CString("N10__cxxabiv117__class_type_infoE"));
    d.SetMemory(t.TypeInfo, Words({siVtable + 8, names, runtimeError}));
    d.SetMemory(names, CString(typeName));
    d.SetMemory(runtimeError, Words({siVtable + 8, names + 0x300, stdException}));
    d.SetMemory(names + 0x300, CString("St13runtime_error"));
    d.SetMemory(stdException, Words({classVtable + 8, names + 0x400}));
    d.SetMemory(names + 0x400, CString("St9exception"));
    d.SetMemory(t.Object, Words({0x9999, message != nullptr ? names + 0x800 : 0}));
    if (message != nullptr)
        d.SetMemory(names + 0x800, CString(message));
    return t;
}
