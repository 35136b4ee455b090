#include "Common/Util/MessageDialogs.h"

#include "Platform/Runtime/MainThread.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<IMessageDialogs*> gDialogs{nullptr};
}

IMessageDialogs* SetMessageDialogs(IMessageDialogs* dialogs) {
    return gDialogs.exchange(dialogs);
}

bool AskYesNo(const QString& title, const QString& text) {
    bool answer = false;
    RunOnMainThread([&] {
        if (IMessageDialogs* dialogs = gDialogs.load())
            answer = dialogs->AskYesNo(title, text);
    });
    return answer;
}

void ShowInformation(const QString& title, const QString& text) {
    RunOnMainThread([&] {
        if (IMessageDialogs* dialogs = gDialogs.load())
            dialogs->ShowInformation(title, text);
        else
            std::fprintf(stderr, "%s\n%s\n", qPrintable(title), qPrintable(text));
    });
}
