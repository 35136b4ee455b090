#include "DemoScenarios.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string ProgramFolder() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    std::string text(path, static_cast<size_t>(length));
    return text.substr(0, text.rfind('/'));
}

// A function with internal linkage: only its section names it in the map.
__attribute__((noinline)) void RaiseFromStatic(const char* message) {
    ThrowDemoError(message);
}

} // namespace

__attribute__((noinline)) void ThrowDemoError(const char* message) {
    throw TDemoError(message);
}

__attribute__((noinline)) int ReadThroughNull(int* pointer) {
    return *pointer;
}

__attribute__((noinline)) int DivideNumbers(int a, int b) {
    return a / b;
}

__attribute__((noinline)) int RecurseForever(int depth) {
    volatile char buffer[256];
    buffer[0] = static_cast<char>(depth);
    if (depth < 0) // never: the stack runs out long before
        return 0;
    return RecurseForever(depth + 1) + buffer[0];
}

bool RunDemoStep(const std::string& step) {
    if (step == "caught") {
        try {
            RaiseFromStatic("Elkapott demó hiba");
        } catch (const TDemoError& e) {
            std::fprintf(stderr, "Elkapva: %s\n", e.what());
        }
    } else if (step == "uncaught") {
        ThrowDemoError("Kezeletlen demó hiba");
    } else if (step == "null") {
        volatile int* none = nullptr;
        std::fprintf(stderr, "%d\n", ReadThroughNull(const_cast<int*>(none)));
    } else if (step == "divzero") {
        volatile int zero = 0;
        std::fprintf(stderr, "%d\n", DivideNumbers(1, zero));
    } else if (step.rfind("signal:", 0) == 0) {
        std::raise(std::atoi(step.c_str() + 7));
        std::fputs("Jelzés után\n", stderr);
    } else if (step == "stack") {
        std::fprintf(stderr, "%d\n", RecurseForever(0));
    } else if (step == "threads") {
        std::thread first([] { std::fputs("Szál 1 fut\n", stderr); });
        std::thread second([] { std::fputs("Szál 2 fut\n", stderr); });
        first.join();
        second.join();
    } else if (step == "library") {
        const std::string path = ProgramFolder() + "/libTarvolinPlugin.so";
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            std::fprintf(stderr, "dlopen: %s\n", ::dlerror());
            return true;
        }
        using TAnswer = int (*)();
        if (auto answer = reinterpret_cast<TAnswer>(::dlsym(handle, "TarvolinPluginAnswer")))
            std::fprintf(stderr, "Válasz: %d\n", answer());
        ::dlclose(handle);
    } else if (step == "fork") {
        // A child process that throws, catches and loads a library before
        // it ends: it is not supervised.
        const pid_t child = ::fork();
        if (child == 0) {
            int code = 1;
            try {
                ThrowDemoError("Gyermek hiba");
            } catch (const TDemoError&) {
                code = 0;
            }
            void* handle = ::dlopen((ProgramFolder() + "/libTarvolinPlugin.so").c_str(), RTLD_NOW);
            if (handle != nullptr)
                ::dlclose(handle);
            ::_exit(code);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        std::fprintf(stderr, "Gyermek kilépett: %d\n",
                     WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    } else if (step == "debug") {
        std::fputs("Tarvolin debug üzenet\n", stderr);
    } else if (step.rfind("throws:", 0) == 0) {
        const long count = std::strtol(step.c_str() + 7, nullptr, 10);
        long caught = 0;
        for (long i = 0; i < count; ++i) {
            try {
                ThrowDemoError("Ismételt demó hiba");
            } catch (const TDemoError&) {
                ++caught;
            }
        }
        std::fprintf(stderr, "Elkapott hibák: %ld\n", caught);
    } else {
        return false;
    }
    return true;
}
