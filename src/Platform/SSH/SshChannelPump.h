#pragma once

// Moves data both ways between the channels of one libssh session and local
// sockets. A libssh session is not thread-safe: the one thread that owns the
// session creates the pump and calls every operation of it.
// Depends on libssh and the C++ library only (the reference gateway uses it
// too).

#include <libssh/callbacks.h>
#include <libssh/libssh.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TSshChannelPump {
public:
    explicit TSshChannelPump(ssh_session session);
    ~TSshChannelPump();
    TSshChannelPump(const TSshChannelPump&) = delete;
    TSshChannelPump& operator=(const TSshChannelPump&) = delete;

    // Takes over an open channel and a connected socket; both are closed when
    // either side has finished. May be called from a libssh callback.
    void AddLink(ssh_channel channel, int fd);
    // Watches a descriptor the pump does not own (a listening socket, a
    // wake-up pipe); the handler runs after a round in which it was readable.
    void WatchFd(int fd, std::function<void()> onReadable);
    void UnwatchFd(int fd);

    // One round: waits up to timeoutMs for the session or a socket, then moves
    // whatever is ready. Answers false once the session is no longer usable.
    bool Iterate(int timeoutMs);
    std::size_t LinkCount() const { return FLinks.size() + FNewLinks.size(); }

    struct TLink;
    struct TWatch;

private:
    static int FdReady(int fd, int revents, void* userdata);
    void Register(TLink& link);
    void Service(TLink& link);
    void Release(TLink& link);

    ssh_session FSession;
    ssh_event FEvent;
    std::vector<std::unique_ptr<TLink>> FLinks;
    std::vector<std::unique_ptr<TLink>> FNewLinks;
    std::vector<std::unique_ptr<TWatch>> FWatches;
    bool FFailed = false;
};
