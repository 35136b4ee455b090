#pragma once

#include <stdexcept>
#include <string>

// The error class of the demo client: a runtime error with its own name.
class TDemoError : public std::runtime_error {
public:
    explicit TDemoError(const std::string& message) : std::runtime_error(message) {}
};

// One step of a scenario; answers false for an unknown step. Steps:
// "caught", "uncaught", "null", "divzero", "threads", "library", "debug",
// "fork" (a child process that throws and loads a library), "stack" (runs
// out of stack), "signal:N" (raises signal N),
// "throws:N" (N caught throws), "wait:MS" (keeps the event loop running),
// "quit".
bool RunDemoStep(const std::string& step);

// The functions that fail, kept out of line so that call stacks name them.
void ThrowDemoError(const char* message);
int ReadThroughNull(int* pointer);
int DivideNumbers(int a, int b);
int RecurseForever(int depth);
