#include "server.hpp"

#include "errors.hpp"
#include "session.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace boardsim {

namespace {

using Clock = std::chrono::steady_clock;

std::string errorText(int err) {
    return std::strerror(err);
}

std::string addressText(const sockaddr_storage& ss) {
    char host[INET6_ADDRSTRLEN] = {};
    if (ss.ss_family == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(ss);
        inet_ntop(AF_INET6, &a.sin6_addr, host, sizeof host);
        // Appended, not "[" + ...: GCC 12 warns falsely (-Wrestrict) on that form at -O2.
        std::string text = "[";
        text += host;
        text += "]:";
        text += std::to_string(ntohs(a.sin6_port));
        return text;
    }
    const auto& a = reinterpret_cast<const sockaddr_in&>(ss);
    inet_ntop(AF_INET, &a.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(a.sin_port));
}

// Waits for `events` on fd, or for the stop pipe, at most timeoutMs (-1: no limit).
// Returns 1 when fd is ready, 0 on time-out, -1 when stopping.
int waitFor(int fd, short events, int stopFd, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {fd, events, 0}};
        int wait = timeoutMs;
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        const int n = ::poll(fds, fd >= 0 ? 2 : 1, wait);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (fds[0].revents != 0) {
            return -1;
        }
        if (n == 0) {
            return 0;
        }
        return 1;
    }
}

class SocketLink final : public Link {
public:
    SocketLink(int fd, int stopFd) : fd_(fd), stopFd_(stopFd) {}
    ~SocketLink() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    SocketLink(const SocketLink&) = delete;
    SocketLink& operator=(const SocketLink&) = delete;

    int fd() const { return fd_; }

    IoStatus send(std::string_view bytes) override {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n >= 0) {
                bytes.remove_prefix(static_cast<std::size_t>(n));
                continue;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                if (waitFor(fd_, POLLOUT, stopFd_, -1) < 0) {
                    return IoStatus::Stopped;
                }
                continue;
            }
            lastError_ = "send: " + errorText(errno);
            return IoStatus::PeerGone;
        }
        return IoStatus::Ok;
    }

    IoStatus pause(std::uint64_t ms) override {
        return waitFor(-1, 0, stopFd_, static_cast<int>(ms)) < 0 ? IoStatus::Stopped : IoStatus::Ok;
    }

    // The FIN goes out first; then whatever the monitor still sends is read away for a moment,
    // because closing with unread input would turn the orderly close into a reset. Input that is
    // already here is read even when stopping.
    void closeOrderly() override {
        if (fd_ < 0) {
            return;
        }
        ::shutdown(fd_, SHUT_WR);
        const auto deadline = Clock::now() + std::chrono::seconds(1);
        while (!drainQueued()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0 ||
                waitFor(fd_, POLLIN, stopFd_, static_cast<int>(left.count())) <= 0) {
                break;
            }
        }
        ::close(fd_);
        fd_ = -1;
    }

    void abort() override {
        if (fd_ < 0) {
            return;
        }
        const linger hard{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(fd_);
        fd_ = -1;
    }

    std::string lastError() const override { return lastError_; }

private:
    // Reads and drops what is queued without waiting; true once the input has ended.
    bool drainQueued() {
        char sink[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, sink, sizeof sink, MSG_DONTWAIT);
            if (n > 0) {
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        }
    }

    int fd_;
    int stopFd_;
    std::string lastError_;
};

} // namespace

Server::Server(ServerSettings settings, EventLog& log) : settings_(std::move(settings)), log_(log) {
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw RuntimeFailure("cannot create the stop pipe: " + errorText(errno));
    }
}

Server::~Server() {
    if (listenFd_ >= 0) {
        ::close(listenFd_);
    }
    ::close(stopPipe_[0]);
    ::close(stopPipe_[1]);
}

std::string Server::listen() {
    const Endpoint& ep = settings_.listen;
    sockaddr_storage ss{};
    socklen_t len = 0;
    if (ep.v6) {
        auto& a = reinterpret_cast<sockaddr_in6&>(ss);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(ep.port);
        inet_pton(AF_INET6, ep.host.c_str(), &a.sin6_addr);
        len = sizeof a;
    } else {
        auto& a = reinterpret_cast<sockaddr_in&>(ss);
        a.sin_family = AF_INET;
        a.sin_port = htons(ep.port);
        inet_pton(AF_INET, ep.host.c_str(), &a.sin_addr);
        len = sizeof a;
    }
    const auto fail = [&](const char* what) {
        const int err = errno;
        if (listenFd_ >= 0) {
            ::close(listenFd_);
            listenFd_ = -1;
        }
        return RuntimeFailure(std::string(what) + " " + ep.text() + ": " + errorText(err));
    };
    listenFd_ = ::socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0) {
        throw fail("cannot open a socket for");
    }
    const int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&ss), len) != 0) {
        throw fail("cannot listen on");
    }
    if (::listen(listenFd_, 8) != 0) {
        throw fail("cannot listen on");
    }
    sockaddr_storage bound{};
    socklen_t boundLen = sizeof bound;
    if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &boundLen) != 0) {
        throw fail("cannot read the address of");
    }
    return addressText(bound);
}

void Server::requestStop() const {
    const char b = 's';
    // Nothing to do on failure: a full pipe already holds a stop request.
    [[maybe_unused]] const auto n = ::write(stopPipe_[1], &b, 1);
}

bool Server::stopRequested() const {
    pollfd p{stopPipe_[0], POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

void Server::run() {
    while (!stopRequested()) {
        if (waitFor(listenFd_, POLLIN, stopPipe_[0], -1) < 0) {
            return;
        }
        sockaddr_storage peer{};
        socklen_t peerLen = sizeof peer;
        const int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &peerLen,
                                 SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            // The connection went away before it was taken, or the process is out of
            // descriptors for a moment: neither is a reason to stop listening.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                waitFor(-1, 0, stopPipe_[0], 100);
            }
            continue;
        }
        serve(fd, addressText(peer));
        if (settings_.once) {
            return;
        }
    }
}

void Server::serve(int fd, const std::string& peer) {
    SocketLink link(fd, stopPipe_[0]);
    log_.accept(peer);
    Session session(settings_.cycles, settings_.faults, log_, link, settings_.answerDelayMs);
    if (session.open()) {
        char buf[4096];
        for (;;) {
            if (waitFor(link.fd(), POLLIN, stopPipe_[0], -1) < 0) {
                break;
            }
            const ssize_t n = ::recv(link.fd(), buf, sizeof buf, 0);
            if (n > 0) {
                if (!session.receive(std::string_view(buf, static_cast<std::size_t>(n)))) {
                    break;
                }
            } else if (n == 0) {
                session.peerClosed();
                break;
            } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
                log_.lost("recv: " + errorText(errno));
                break;
            }
        }
    }
    session.finish();
}

} // namespace boardsim
