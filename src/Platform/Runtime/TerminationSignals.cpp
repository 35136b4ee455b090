#include "Platform/Runtime/TerminationSignals.h"

#include "Platform/Runtime/Exception.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int gSignalFds[2] = {-1, -1};
bool gRequested = false;

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalFds[0], &byte, 1);
}
} // namespace

TTerminationSignals::TTerminationSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalFds) != 0)
        RaiseLastOSError(QStringLiteral("socketpair"));
    auto* notifier = new QSocketNotifier(gSignalFds[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(gSignalFds[1], &byte, 1);
        // Also ends loops that run before the main one (a modal dialog at
        // start), which quit() would leave running.
        gRequested = true;
        QCoreApplication::exit(0);
    });
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}

TTerminationSignals::~TTerminationSignals() {
    struct sigaction sa = {};
    sa.sa_handler = SIG_DFL;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    ::close(gSignalFds[0]);
    ::close(gSignalFds[1]);
    gSignalFds[0] = gSignalFds[1] = -1;
}

bool TTerminationSignals::Requested() {
    return gRequested;
}
