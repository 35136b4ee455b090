#include "Common/Debug/Debugger.h"

#include "Common/Debug/DebugThread.h"
#include "Common/Util/StrUtilsEx.h"

#include <QFileInfo>

TDebugger::~TDebugger() {
    // The handlers belong to objects that are going away too: the programs'
    // last events no longer reach them.
    for (const auto& item : FItems) {
        item->CloseHandlers();
        item->Terminate();
    }
    FItems.clear();
}

TDebuggedProcess* TDebugger::DebugProcess(const QString& fileName, bool start) {
    TV_ASSERT(!fileName.isEmpty());
    if (!QFileInfo(fileName).isFile())
        throw EDebug(TDebugThread::MissingTitle(),
                     FixArticle(Format(TDebugThread::MissingMessageFmt(), {fileName})));
    auto process = std::make_unique<TDebuggedProcess>(fileName);
    TDebuggedProcess* result = process.get();
    FItems.push_back(std::move(process));
    if (start)
        result->Start();
    return result;
}

bool TDebugger::IsActive() const {
    for (const auto& item : FItems)
        if (item->ProcessInfo().Active())
            return true;
    return false;
}

namespace {
std::unique_ptr<TDebugger> GDebugger;
}

TDebugger& Debugger() {
    if (!GDebugger)
        GDebugger = std::make_unique<TDebugger>();
    return *GDebugger;
}

void DestroyDebugger() {
    GDebugger.reset();
}
