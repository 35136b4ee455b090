#include "Platform/Debug/ProcessControl.h"

#include <mutex>

namespace {
std::mutex GFactoryLock;
TProcessControlFactory GFactory;
} // namespace

TProcessControlFactory SetProcessControlFactory(TProcessControlFactory factory) {
    std::lock_guard<std::mutex> guard(GFactoryLock);
    TProcessControlFactory previous = std::move(GFactory);
    GFactory = std::move(factory);
    return previous;
}

std::unique_ptr<IProcessControl> CreateProcessControl() {
    TProcessControlFactory factory;
    {
        std::lock_guard<std::mutex> guard(GFactoryLock);
        factory = GFactory;
    }
    return factory ? factory() : CreatePlatformProcessControl();
}
