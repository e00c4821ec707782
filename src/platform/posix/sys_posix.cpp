// The system primitives on Linux and other POSIX systems.
#include "../sys.hpp"
#include "../wsa_errors.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#ifndef BOARDMON_WAV_PLAYER
#define BOARDMON_WAV_PLAYER "aplay"
#endif

extern char** environ;

namespace sys {
namespace {

// errno to the Windows Sockets number of the same failure. Winsock numbered its BSD-style
// errors 10000 + the BSD errno, which is what an unlisted errno falls back to.
int wsaFromErrno(int e) {
    switch (e) {
    case EINTR:
        return wsa::kInterrupted;
    case EBADF:
        return wsa::kBadHandle;
    case EACCES:
    case EPERM:
        return wsa::kAccess;
    case EFAULT:
        return wsa::kFault;
    case EINVAL:
        return wsa::kInvalid;
    case EMFILE:
    case ENFILE:
        return wsa::kTooManyFiles;
    case EAGAIN:
        return wsa::kWouldBlock;
    case EINPROGRESS:
        return wsa::kInProgress;
    case EALREADY:
        return wsa::kAlready;
    case ENOTSOCK:
        return wsa::kNotSocket;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return wsa::kMessageSize;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return wsa::kAfNoSupport;
    case EADDRINUSE:
        return wsa::kAddrInUse;
    case EADDRNOTAVAIL:
        return wsa::kAddrNotAvail;
    case ENETDOWN:
        return wsa::kNetDown;
    case ENETUNREACH:
        return wsa::kNetUnreach;
    case ENETRESET:
        return wsa::kNetReset;
    case ECONNABORTED:
        return wsa::kConnAborted;
    // A send to a peer that has gone: Winsock calls this a reset.
    case ECONNRESET:
    case EPIPE:
        return wsa::kConnReset;
    case ENOBUFS:
    case ENOMEM:
        return wsa::kNoBufs;
    case EISCONN:
        return wsa::kIsConn;
    case ENOTCONN:
        return wsa::kNotConn;
    case ESHUTDOWN:
        return wsa::kShutdown;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return wsa::kTimedOut;
    case ECONNREFUSED:
        return wsa::kConnRefused;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return wsa::kHostDown;
    case EHOSTUNREACH:
        return wsa::kHostUnreach;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return 10000 + e;
    }
}

int fdOf(Handle h) {
    return static_cast<int>(h);
}

// The console's descriptors are shared with whoever started the program, which may have left
// them non-blocking: "try again" then means waiting until the descriptor is ready, not failing.
// A pipe whose other end has gone reports ready, so the retried call fails as it should.
bool waitUntilReady(int fd, short events) {
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
        return false;
    }
    pollfd p{fd, events, 0};
    while (::poll(&p, 1, -1) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

const char* writeAll(int fd, const char* data, std::size_t len) {
    while (len > 0) {
        const ssize_t n = ::write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR || waitUntilReady(fd, POLLOUT)) {
                continue;
            }
            return std::strerror(errno);
        }
        data += n;
        len -= static_cast<std::size_t>(n);
    }
    return nullptr;
}

std::int64_t monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

} // namespace

bool processInit() {
    // A write to a closed socket or pipe must come back as an error, not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    // The sound players are never waited for; the kernel reaps them.
    std::signal(SIGCHLD, SIG_IGN);
    return true;
}

void exit(int status) {
    std::exit(status);
}

const char* writeStdout(const char* data, std::size_t len) {
    return writeAll(STDOUT_FILENO, data, len);
}

const char* writeStderr(const char* data, std::size_t len) {
    return writeAll(STDERR_FILENO, data, len);
}

std::ptrdiff_t readStdin(char* buf, std::size_t cap, const char** error) {
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buf, cap);
        if (n >= 0) {
            return n;
        }
        if (errno != EINTR && !waitUntilReady(STDIN_FILENO, POLLIN)) {
            *error = std::strerror(errno);
            return -1;
        }
    }
}

std::int64_t localTimeMs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    const time_t secs = ts.tv_sec;
    localtime_r(&secs, &local);
    return (static_cast<std::int64_t>(secs) + local.tm_gmtoff) * 1000 + ts.tv_nsec / 1000000;
}

void sleepMs(std::uint32_t ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void playWav(const std::string& path) {
    // No drive letters here: "c:/tmp/x.wav" is "/tmp/x.wav".
    std::string file = path;
    if (file.size() >= 2 && file[1] == ':' &&
        ((file[0] >= 'a' && file[0] <= 'z') || (file[0] >= 'A' && file[0] <= 'Z'))) {
        file.erase(0, 2);
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return;
    }
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return;
    }
    // The player must not write into the trace nor read the operator's input.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);

    char player[] = BOARDMON_WAV_PLAYER;
    char quiet[] = "-q";
    char* argv[] = {player, quiet, file.data(), nullptr};
    pid_t pid = 0;
    posix_spawnp(&pid, player, &actions, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
}

int lookupFailure(int rc, int savedErrno) {
    switch (rc) {
    case EAI_NONAME:
        return wsa::kHostNotFound;
    case EAI_AGAIN:
        return wsa::kTryAgain;
    case EAI_FAIL:
        return wsa::kNoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return wsa::kNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return wsa::kNoData;
#endif
    case EAI_MEMORY:
        return wsa::kNoBufs;
    case EAI_SYSTEM:
        return wsaFromErrno(savedErrno);
    default:
        return wsa::kNoRecovery;
    }
}

int lookupService(const std::string& name, std::uint16_t& port) {
    servent entry{};
    servent* found = nullptr;
    char scratch[1024];
    if (getservbyname_r(name.c_str(), "tcp", &entry, scratch, sizeof scratch, &found) != 0 ||
        found == nullptr) {
        return wsa::kInvalid;
    }
    port = ntohs(static_cast<std::uint16_t>(found->s_port));
    return 0;
}

int create(bool ipv6, Handle& out) {
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        return wsaFromErrno(errno);
    }
    // Requests are a few bytes each and wait for their answer: send them at once.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    out = fd;
    return 0;
}

int connect(Handle h, const Endpoint& ep) {
    const int fd = fdOf(h);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(ep.addr),
                  static_cast<socklen_t>(ep.addrLen)) == 0) {
        return 0;
    }
    if (errno != EINTR && errno != EINPROGRESS) {
        return wsaFromErrno(errno);
    }
    // Interrupted: the attempt goes on in the background; wait for its outcome.
    pollfd p{fd, POLLOUT, 0};
    while (::poll(&p, 1, -1) < 0) {
        if (errno != EINTR) {
            return wsaFromErrno(errno);
        }
    }
    int soError = 0;
    socklen_t len = sizeof soError;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) {
        return wsaFromErrno(errno);
    }
    return soError == 0 ? 0 : wsaFromErrno(soError);
}

int send(Handle h, const char* data, std::size_t len, std::size_t& sent) {
    for (;;) {
        const ssize_t n = ::send(fdOf(h), data, len, MSG_NOSIGNAL);
        if (n >= 0) {
            sent = static_cast<std::size_t>(n);
            return 0;
        }
        if (errno != EINTR) {
            return wsaFromErrno(errno);
        }
    }
}

int waitReadable(Handle h, int timeoutMs, bool& readable) {
    pollfd p{fdOf(h), POLLIN, 0};
    const std::int64_t deadline = monotonicMs() + timeoutMs;
    for (;;) {
        const std::int64_t left = deadline - monotonicMs();
        const int rc = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (rc >= 0) {
            readable = rc > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
            return 0;
        }
        if (errno != EINTR) {
            return wsaFromErrno(errno);
        }
    }
}

int bytesWaiting(Handle h, std::size_t& count) {
    int n = 0;
    if (ioctl(fdOf(h), FIONREAD, &n) != 0) {
        return wsaFromErrno(errno);
    }
    count = n > 0 ? static_cast<std::size_t>(n) : 0;
    return 0;
}

int recv(Handle h, char* buf, std::size_t cap, std::size_t& got) {
    for (;;) {
        const ssize_t n = ::recv(fdOf(h), buf, cap, 0);
        if (n >= 0) {
            got = static_cast<std::size_t>(n);
            return 0;
        }
        if (errno != EINTR) {
            got = 0;
            return wsaFromErrno(errno);
        }
    }
}

int shutdownSend(Handle h) {
    return ::shutdown(fdOf(h), SHUT_WR) == 0 ? 0 : wsaFromErrno(errno);
}

void close(Handle h) {
    ::close(fdOf(h));
}

} // namespace sys
