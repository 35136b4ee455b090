#include "Platform/SSH/SshChannelPump.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr std::size_t BlockSize = 64 * 1024;

void SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}
} // namespace

struct TSshChannelPump::TLink {
    TSshChannelPump* Owner = nullptr;
    ssh_channel Channel = nullptr;
    int Fd = -1;
    std::string ToFd;        // received from the channel, not yet written
    bool FdEof = false;      // the socket said end of file
    bool FdShut = false;     // our write side of the socket is shut
    bool FdFailed = false;   // the socket broke
    bool ChannelEof = false; // the peer sent end of file
    bool ChannelClosed = false;
    short Registered = 0; // poll events the event loop watches
    short Ready = 0;      // poll events seen in the last round
    ssh_channel_callbacks_struct Callbacks{};

    void WriteOut() {
        while (!ToFd.empty() && !FdFailed) {
            const ssize_t n = ::send(Fd, ToFd.data(), ToFd.size(), MSG_NOSIGNAL);
            if (n > 0) {
                ToFd.erase(0, static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            } else {
                FdFailed = true;
                ToFd.clear();
            }
        }
    }
};

struct TSshChannelPump::TWatch {
    int Fd = -1;
    std::function<void()> OnReadable;
    bool Ready = false;
};

namespace {
int OnChannelData(ssh_session, ssh_channel, void* data, uint32_t len, int, void* userdata) {
    auto* link = static_cast<TSshChannelPump::TLink*>(userdata);
    link->ToFd.append(static_cast<const char*>(data), len);
    link->WriteOut();
    return static_cast<int>(len);
}

void OnChannelEof(ssh_session, ssh_channel, void* userdata) {
    static_cast<TSshChannelPump::TLink*>(userdata)->ChannelEof = true;
}

void OnChannelClose(ssh_session, ssh_channel, void* userdata) {
    auto* link = static_cast<TSshChannelPump::TLink*>(userdata);
    link->ChannelEof = true;
    link->ChannelClosed = true;
}

int OnWatchReady(int, int revents, void* userdata) {
    if (revents & (POLLIN | POLLHUP | POLLERR))
        static_cast<TSshChannelPump::TWatch*>(userdata)->Ready = true;
    return 0;
}
} // namespace

TSshChannelPump::TSshChannelPump(ssh_session session) : FSession(session), FEvent(ssh_event_new()) {
    if (FEvent == nullptr || ssh_event_add_session(FEvent, FSession) != SSH_OK)
        FFailed = true;
}

TSshChannelPump::~TSshChannelPump() {
    for (auto& link : FNewLinks)
        FLinks.push_back(std::move(link));
    FNewLinks.clear();
    for (auto& link : FLinks)
        Release(*link);
    FLinks.clear();
    for (auto& watch : FWatches)
        ssh_event_remove_fd(FEvent, watch->Fd);
    FWatches.clear();
    if (FEvent != nullptr) {
        ssh_event_remove_session(FEvent, FSession);
        ssh_event_free(FEvent);
    }
}

void TSshChannelPump::AddLink(ssh_channel channel, int fd) {
    auto link = std::make_unique<TLink>();
    link->Owner = this;
    link->Channel = channel;
    link->Fd = fd;
    SetNonBlocking(fd);
    ssh_callbacks_init(&link->Callbacks);
    link->Callbacks.userdata = link.get();
    link->Callbacks.channel_data_function = OnChannelData;
    link->Callbacks.channel_eof_function = OnChannelEof;
    link->Callbacks.channel_close_function = OnChannelClose;
    ssh_set_channel_callbacks(channel, &link->Callbacks);
    // Links made inside a libssh callback join at the start of the next round.
    FNewLinks.push_back(std::move(link));
}

void TSshChannelPump::WatchFd(int fd, std::function<void()> onReadable) {
    auto watch = std::make_unique<TWatch>();
    watch->Fd = fd;
    watch->OnReadable = std::move(onReadable);
    ssh_event_add_fd(FEvent, fd, POLLIN, OnWatchReady, watch.get());
    FWatches.push_back(std::move(watch));
}

void TSshChannelPump::UnwatchFd(int fd) {
    auto it =
        std::find_if(FWatches.begin(), FWatches.end(), [fd](const auto& w) { return w->Fd == fd; });
    if (it == FWatches.end())
        return;
    ssh_event_remove_fd(FEvent, fd);
    FWatches.erase(it);
}

int TSshChannelPump::FdReady(int, int revents, void* userdata) {
    static_cast<TLink*>(userdata)->Ready |= static_cast<short>(revents);
    return 0;
}

void TSshChannelPump::Register(TLink& link) {
    short wanted = 0;
    if (!link.FdEof && !link.FdFailed && !link.ChannelClosed &&
        ssh_channel_window_size(link.Channel) > 0)
        wanted |= POLLIN;
    if (!link.ToFd.empty() && !link.FdFailed)
        wanted |= POLLOUT;
    if (wanted == link.Registered)
        return;
    if (link.Registered != 0)
        ssh_event_remove_fd(FEvent, link.Fd);
    if (wanted != 0)
        ssh_event_add_fd(FEvent, link.Fd, wanted, FdReady, &link);
    link.Registered = wanted;
}

void TSshChannelPump::Service(TLink& link) {
    const short ready = link.Ready;
    link.Ready = 0;
    if (ready & (POLLOUT | POLLERR | POLLHUP))
        link.WriteOut();
    if ((ready & (POLLIN | POLLHUP | POLLERR)) && !link.FdEof && !link.FdFailed &&
        !link.ChannelClosed) {
        // Up to a few blocks per round, as far as the peer's window allows.
        for (int block = 0; block < 16 && !link.FdEof && !link.FdFailed && !FFailed; ++block) {
            const uint32_t window = ssh_channel_window_size(link.Channel);
            if (window == 0)
                break;
            char buffer[BlockSize];
            const ssize_t n = ::recv(link.Fd, buffer, std::min<std::size_t>(window, BlockSize), 0);
            if (n > 0) {
                if (ssh_channel_write(link.Channel, buffer, static_cast<uint32_t>(n)) == SSH_ERROR)
                    FFailed = !ssh_is_connected(FSession);
            } else if (n == 0) {
                link.FdEof = true;
                ssh_channel_send_eof(link.Channel);
            } else {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                    link.FdFailed = true;
                break;
            }
        }
    }
    if (link.ChannelEof && link.ToFd.empty() && !link.FdShut && !link.FdFailed) {
        ::shutdown(link.Fd, SHUT_WR);
        link.FdShut = true;
    }
}

void TSshChannelPump::Release(TLink& link) {
    if (link.Registered != 0)
        ssh_event_remove_fd(FEvent, link.Fd);
    link.Registered = 0;
    ssh_remove_channel_callbacks(link.Channel, &link.Callbacks);
    if (!link.ChannelClosed && ssh_is_connected(FSession))
        ssh_channel_close(link.Channel);
    ssh_channel_free(link.Channel);
    link.Channel = nullptr;
    ::close(link.Fd);
    link.Fd = -1;
}

bool TSshChannelPump::Iterate(int timeoutMs) {
    if (FFailed)
        return false;
    for (auto& link : FNewLinks)
        FLinks.push_back(std::move(link));
    FNewLinks.clear();
    for (auto& link : FLinks)
        Register(*link);
    int rc = ssh_event_dopoll(FEvent, timeoutMs);
    // The library reads the connection in small pieces per poll: take what
    // is already there before moving on.
    for (int round = 0; rc == SSH_OK && round < 64; ++round)
        rc = ssh_event_dopoll(FEvent, 0);
    if (rc == SSH_ERROR || !ssh_is_connected(FSession)) {
        FFailed = true;
        return false;
    }
    for (auto& link : FLinks)
        Service(*link);
    for (auto it = FLinks.begin(); it != FLinks.end();) {
        TLink& link = **it;
        const bool done = link.FdFailed || (link.ChannelClosed && link.ToFd.empty()) ||
                          (link.FdEof && link.ChannelEof && link.ToFd.empty());
        if (done) {
            Release(link);
            it = FLinks.erase(it);
        } else {
            ++it;
        }
    }
    for (std::size_t i = 0; i < FWatches.size(); ++i) {
        if (FWatches[i]->Ready) {
            FWatches[i]->Ready = false;
            auto handler = FWatches[i]->OnReadable; // the handler may unwatch
            handler();
        }
    }
    return !FFailed && ssh_is_connected(FSession);
}
