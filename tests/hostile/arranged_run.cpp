#include "arranged_run.hpp"

#include "harness.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace hostile {
namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    int r = -1;
    int w = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        r = fds[0];
        w = fds[1];
    }
};

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

Result runArranged(const std::vector<std::string>& argv, const Arrangement& how) {
    // Writing to a child that has already gone must not end this process either.
    std::signal(SIGPIPE, SIG_IGN);

    Pipe in;
    Pipe out;
    Pipe err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    switch (how.in) {
    case Stdin::Text:
        posix_spawn_file_actions_adddup2(&actions, in.r, STDIN_FILENO);
        break;
    case Stdin::DevNull:
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        break;
    case Stdin::Closed:
        posix_spawn_file_actions_addclose(&actions, STDIN_FILENO);
        break;
    }
    if (how.out == Stdout::Closed) {
        posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_adddup2(&actions, out.w, STDOUT_FILENO);
    }
    posix_spawn_file_actions_adddup2(&actions, err.w, STDERR_FILENO);
    if (how.out == Stdout::ReaderGone) {
        closeFd(out.r);
    }
    if (how.nonBlocking) {
        fcntl(in.r, F_SETFL, fcntl(in.r, F_GETFL) | O_NONBLOCK);
        fcntl(out.w, F_SETFL, fcntl(out.w, F_GETFL) | O_NONBLOCK);
    }

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const auto started = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    closeFd(in.r);
    closeFd(out.w);
    closeFd(err.w);
    if (rc != 0) {
        closeFd(in.w);
        closeFd(out.r);
        closeFd(err.r);
        throw std::runtime_error("cannot start " + argv[0]);
    }

    fcntl(in.w, F_SETFL, O_NONBLOCK);
    std::size_t written = 0;
    if (how.in != Stdin::Text || how.input.empty()) {
        closeFd(in.w);
    }
    Result result;
    const auto deadline = started + how.limit;
    const auto writeFrom = started + how.inputAfter;
    const auto readFrom = started + how.readAfter;
    char buf[65536];
    while (out.r >= 0 || err.r >= 0) {
        const auto now = Clock::now();
        // A descriptor whose time has not come is left out of the poll (-1 is ignored).
        pollfd fds[3] = {{now >= readFrom ? out.r : -1, POLLIN, 0},
                         {err.r, POLLIN, 0},
                         {now >= writeFrom ? in.w : -1, POLLOUT, 0}};
        int wait = remainingMs(deadline);
        for (const auto from : {writeFrom, readFrom}) {
            if (now < from) {
                wait = std::min(wait, remainingMs(from) + 1);
            }
        }
        const int n = poll(fds, 3, wait);
        if (n == 0 && Clock::now() >= deadline) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            const ssize_t w = write(in.w, how.input.data() + written, how.input.size() - written);
            if (w > 0) {
                written += static_cast<std::size_t>(w);
            }
            if ((w < 0 && errno != EAGAIN) || written == how.input.size()) {
                closeFd(in.w);
            }
        }
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? out.r : err.r;
            std::string& into = i == 0 ? result.out : result.err;
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            const ssize_t r = read(fd, buf, sizeof buf);
            if (r <= 0) {
                closeFd(fd);
                continue;
            }
            into.append(buf, static_cast<std::size_t>(r));
            if (i == 0 && how.out == Stdout::ReaderLeaves &&
                result.out.find(how.leaveAfter) != std::string::npos) {
                closeFd(fd);
            }
        }
    }
    closeFd(in.w);
    closeFd(out.r);
    closeFd(err.r);
    e2e::waitForExit(pid, result.status, result.signal);
    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    return result;
}

} // namespace hostile
