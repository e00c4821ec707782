#include "harness.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> cArgs(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    for (const std::string& a : argv) {
        out.push_back(const_cast<char*>(a.c_str()));
    }
    out.push_back(nullptr);
    return out;
}

int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

std::string L(const std::string& text) {
    return text + "\r\n";
}

std::vector<std::string> monitorCommand() {
    std::vector<std::string> argv;
    if (const char* cmd = std::getenv("BOARDMON_CMD"); cmd != nullptr && *cmd != '\0') {
        std::istringstream words(cmd);
        for (std::string w; words >> w;) {
            argv.push_back(w);
        }
        return argv;
    }
    argv.emplace_back(BOARDMON_BINARY);
    return argv;
}

namespace {

std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const std::string& x : extra) {
            replaced = replaced || x.rfind(name, 0) == 0;
        }
        if (!replaced) {
            env.push_back(entry);
        }
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

} // namespace

bool windowsBuild() {
    const std::vector<std::string> cmd = monitorCommand();
    return cmd.back().size() > 4 && cmd.back().substr(cmd.back().size() - 4) == ".exe";
}

namespace {

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

void waitForExit(int pid, int& status, int& signal) {
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(raw)) {
        status = WEXITSTATUS(raw);
    } else if (WIFSIGNALED(raw)) {
        signal = WTERMSIG(raw);
    }
}

} // namespace

Outcome runArranged(const std::vector<std::string>& argv, const Arrangement& how) {
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
    if (how.err == Stderr::Captured) {
        posix_spawn_file_actions_adddup2(&actions, err.w, STDERR_FILENO);
    } else {
        closeFd(err.r);
    }
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

    std::vector<char*> args = cArgs(argv);
    const std::vector<std::string> envStrings = environmentWith(how.env);
    std::vector<char*> envp = cArgs(envStrings);
    const auto started = Clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data());
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

    // The input is written while the output is read, so neither side can block the other.
    fcntl(in.w, F_SETFL, O_NONBLOCK);
    std::size_t written = 0;
    if (how.in != Stdin::Text || how.input.empty()) {
        closeFd(in.w);
    }
    Outcome result;
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
    waitForExit(pid, result.status, result.signal);
    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    return result;
}

Outcome run(const std::vector<std::string>& argv, const std::string& input,
            std::chrono::milliseconds limit, const std::vector<std::string>& env) {
    Arrangement how;
    how.input = input;
    how.err = Stderr::Inherited;
    how.limit = limit;
    how.env = env;
    return runArranged(argv, how);
}

Outcome runMonitor(const std::string& input, std::chrono::milliseconds limit,
                   const std::vector<std::string>& env) {
    return run(monitorCommand(), input, limit, env);
}

Board::Board(std::vector<std::string> args, const std::string& listen) {
    char dir[] = "/tmp/boardsim-log-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    logPath_ = std::string(dir) + "/exchange.log";
    std::vector<std::string> argv = {BOARDSIM_BINARY,
                                     "--listen",
                                     listen,
                                     "--log",
                                     logPath_,
                                     "--answer-delay",
                                     std::to_string(kAnswerDelayMs)};
    argv.insert(argv.end(), args.begin(), args.end());

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<char*> cargs = cArgs(argv);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, cargs[0], &actions, nullptr, cargs.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        throw std::runtime_error("cannot start boardsim");
    }
    pid_ = pid;

    // The first line says where it listens: "listening on 127.0.0.1:PORT".
    std::string line;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, remainingMs(deadline)) <= 0) {
            break;
        }
        char c = 0;
        if (read(out[0], &c, 1) != 1) {
            break;
        }
        line += c;
    }
    close(out[0]);
    const std::size_t colon = line.rfind(':');
    if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
        throw std::runtime_error("boardsim did not start: " + line);
    }
    port_ = std::atoi(line.c_str() + colon + 1);
}

Board::~Board() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    std::remove(logPath_.c_str());
    rmdir(logPath_.substr(0, logPath_.rfind('/')).c_str());
}

std::string Board::log() const {
    std::ifstream f(logPath_, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

int Board::wait(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (Clock::now() >= deadline) {
            return -1;
        }
        usleep(10000);
    }
}

int unusedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

} // namespace e2e
