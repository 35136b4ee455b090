#pragma once

#include <exception>

// The fixed skeleton of a program's life: initialise, run the message loop,
// finalise; exceptions of the program's family that escape are handled once.
class TAppStartup {
public:
    TAppStartup() = default;
    virtual ~TAppStartup() = default;
    TAppStartup(const TAppStartup&) = delete;
    TAppStartup& operator=(const TAppStartup&) = delete;

    // Runs the whole lifetime and returns when the program is to end.
    void RunApplication();

protected:
    virtual void HandleFatalException(const std::exception& error) = 0;
    virtual void Initialize() = 0;
    virtual void Run() = 0;
    virtual void Finalize() = 0;
};
