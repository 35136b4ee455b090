#include "Common/Session/DefaultPrompt.h"

#include <atomic>

namespace {
std::atomic<IPasswordPrompt*> gPrompt{nullptr};
}

IPasswordPrompt* DefaultPasswordPrompt() {
    return gPrompt.load();
}

IPasswordPrompt* SetDefaultPasswordPrompt(IPasswordPrompt* prompt) {
    return gPrompt.exchange(prompt);
}
