#include "answer_peer.hpp"

#include "link/frame.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace bench {
namespace {

[[noreturn]] void failWith(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

void noDelay(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Answers are a few bytes; a loopback socket takes them whole or fails.
bool sendWhole(int fd, const std::string& data) {
    return ::send(fd, data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
}

} // namespace

std::string answerLine(std::string_view requestLine) {
    if (requestLine.size() < 4) {
        return {};
    }
    std::string payload(1, requestLine[3]);
    payload += 'T';
    return frame::encode(payload) + "\r\n";
}

AnswerPeer::AnswerPeer() {
    int stop[2];
    if (::pipe2(stop, O_CLOEXEC) != 0) {
        failWith("pipe");
    }
    stopRead_ = stop[0];
    stopWrite_ = stop[1];
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 8) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const int saved = errno;
        ::close(listenFd_);
        ::close(stopRead_);
        ::close(stopWrite_);
        errno = saved;
        failWith("listen on 127.0.0.1");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { run(); });
}

AnswerPeer::~AnswerPeer() {
    const char stop = 's';
    [[maybe_unused]] const ssize_t n = ::write(stopWrite_, &stop, 1);
    thread_.join();
    ::close(listenFd_);
    ::close(stopRead_);
    ::close(stopWrite_);
}

void AnswerPeer::run() {
    // Entry 0 is the stop pipe, entry 1 the listening socket, the rest are connections, each
    // with the bytes of its unfinished line in pending at the same index.
    std::vector<pollfd> fds{{stopRead_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
    std::vector<std::string> pending(2);
    std::string out;
    char buf[4096];
    for (;;) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            std::string& held = pending[i];
            if (n > 0) {
                held.append(buf, static_cast<std::size_t>(n));
                out.clear();
                std::size_t start = 0;
                for (std::size_t end; (end = held.find("\r\n", start)) != std::string::npos;
                     start = end + 2) {
                    out += answerLine(std::string_view(held).substr(start, end - start));
                }
                held.erase(0, start);
            }
            if (n <= 0 || (!out.empty() && !sendWhole(fds[i].fd, out))) {
                ::close(fds[i].fd);
                fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i));
                pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
                --i;
            }
        }
        if ((fds[1].revents & POLLIN) != 0) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                noDelay(fd);
                fds.push_back({fd, POLLIN, 0});
                pending.emplace_back();
            }
        }
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
        ::close(fds[i].fd);
    }
}

int connectLoopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        failWith("socket");
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        failWith("connect to 127.0.0.1");
    }
    noDelay(fd);
    return fd;
}

} // namespace bench
