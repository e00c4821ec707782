// The whole monitor as the operator runs it, against the simulated board: processor time per
// cycle and peak resident memory of the boardmon process (from wait4), and the time from
// starting it to the first byte of its first prompt. The trace goes to /dev/null.
//
// The kernel carries the spawning process's peak resident size into the child's ru_maxrss, so
// this program is linked statically to stay far below the monitor's size; it also samples the
// monitor's own VmHWM from /proc while it runs, as a cross-check.
#include "stats.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Options {
    std::string boardmon = "./boardmon";
    std::string boardsim = "./boardsim";
    std::string cycles = "oooooooooo.";
    int starts = 200;
    int fixedRuns = 20;
};

void usage() {
    std::fputs(
        "usage: bench_monitor [--boardmon PATH] [--boardsim PATH] [--cycles LETTERS] [--starts N]\n"
        "                     [--fixed-runs N]\n"
        "  --boardmon PATH   the monitor to measure (default ./boardmon)\n"
        "  --boardsim PATH   the simulated board (default ./boardsim)\n"
        "  --cycles LETTERS  the board's switch letters for the measured run (default\n"
        "                    oooooooooo.: ten cycles; each takes a second)\n"
        "  --starts N        start-up timings, after 10 unmeasured ones (default 200)\n"
        "  --fixed-runs N    runs with the switch off from the start, for the fixed cost of\n"
        "                    start-up and shutdown (default 20)\n",
        stderr);
}

Options parseArgs(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--boardmon" && hasValue) {
            o.boardmon = argv[++i];
        } else if (a == "--boardsim" && hasValue) {
            o.boardsim = argv[++i];
        } else if (a == "--cycles" && hasValue) {
            o.cycles = argv[++i];
        } else if ((a == "--starts" || a == "--fixed-runs") && hasValue) {
            const int v = std::atoi(argv[++i]);
            if (v <= 0) {
                usage();
                std::exit(2);
            }
            (a == "--starts" ? o.starts : o.fixedRuns) = v;
        } else {
            usage();
            std::exit(a == "--help" ? 0 : 2);
        }
    }
    return o;
}

[[noreturn]] void failWith(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            failWith("pipe");
        }
        read = fds[0];
        write = fds[1];
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void closeRead() {
        if (read >= 0) {
            ::close(read);
            read = -1;
        }
    }
    void closeWrite() {
        if (write >= 0) {
            ::close(write);
            write = -1;
        }
    }
};

// Starts argv[0] with the given descriptors as its standard input and output (-1: /dev/null).
pid_t spawn(const std::vector<std::string>& args, int in, int out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) {
        posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    if (out >= 0) {
        posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        errno = rc;
        failWith("cannot start " + args[0]);
    }
    return pid;
}

// Waits up to timeoutMs for one byte on fd; false when none came.
bool readByte(int fd, int timeoutMs, char& c) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) {
        return false;
    }
    return ::read(fd, &c, 1) == 1;
}

// Reaps pid, giving it up to timeoutMs to end by itself before it is terminated.
void reap(pid_t pid, int timeoutMs) {
    int status = 0;
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, &status, 0);
}

// The simulated board, serving one connection on a port of its own.
class Board {
public:
    Board(const std::string& exe, const std::string& cycles) {
        pid_ = spawn(
            {exe, "--listen", "127.0.0.1:0", "--once", "--cycles", cycles, "--log", "/dev/null"},
            -1, out_.write);
        out_.closeWrite();
        std::string line;
        char c = 0;
        while (readByte(out_.read, 5000, c) && c != '\n') {
            line += c;
        }
        const std::size_t colon = line.rfind(':');
        if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
            reap(pid_, 0);
            throw std::runtime_error("boardsim did not report its address (got \"" + line + "\")");
        }
        port_ = line.substr(colon + 1);
    }
    ~Board() { reap(pid_, 5000); }
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;
    const std::string& port() const { return port_; }

private:
    Pipe out_;
    pid_t pid_ = -1;
    std::string port_;
};

double toUs(const timeval& tv) {
    return static_cast<double>(tv.tv_sec) * 1e6 + static_cast<double>(tv.tv_usec);
}

// The largest VmHWM (kiB) seen in /proc/pid/status; unchanged when it cannot be read.
long sampleHwm(pid_t pid, long seen) {
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        return seen;
    }
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        long kib = 0;
        if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1 && kib > seen) {
            seen = kib;
        }
    }
    std::fclose(f);
    return seen;
}

struct RunResult {
    double cpuUs = 0;
    double userUs = 0;
    double sysUs = 0;
    long maxRssKib = 0;
    long hwmKib = 0;
    double wallMs = 0;
    int status = 0;
};

// One whole run: the operator accepts the default address and types the board's port.
RunResult runMonitor(const Options& o, const std::string& cycles) {
    Board board(o.boardsim, cycles);
    Pipe in;
    const std::string answers = "\n" + board.port() + "\n";
    if (::write(in.write, answers.data(), answers.size()) != static_cast<ssize_t>(answers.size())) {
        failWith("write to the monitor's input");
    }
    in.closeWrite();
    RunResult r;
    const std::int64_t t0 = bench::nowNs();
    const pid_t pid = spawn({o.boardmon}, in.read, -1);
    in.closeRead();
    rusage ru{};
    int status = 0;
    for (;;) {
        r.hwmKib = sampleHwm(pid, r.hwmKib);
        const pid_t done = ::wait4(pid, &status, WNOHANG, &ru);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            failWith("wait4");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.wallMs = static_cast<double>(bench::nowNs() - t0) / 1e6;
    r.userUs = toUs(ru.ru_utime);
    r.sysUs = toUs(ru.ru_stime);
    r.cpuUs = r.userUs + r.sysUs;
    r.maxRssKib = ru.ru_maxrss;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// Microseconds from starting exe to the first byte on its standard output.
double firstByteUs(const std::string& exe, const std::vector<std::string>& args) {
    Pipe in;
    Pipe out;
    const std::int64_t t0 = bench::nowNs();
    const pid_t pid =
        spawn(args.empty() ? std::vector<std::string>{exe} : args, in.read, out.write);
    out.closeWrite();
    char c = 0;
    const bool got = readByte(out.read, 5000, c);
    const std::int64_t t1 = bench::nowNs();
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!got) {
        throw std::runtime_error(exe + " wrote nothing within 5 s");
    }
    return static_cast<double>(t1 - t0) / 1000.0;
}

struct StartTimes {
    double median = 0;
    double p90 = 0;
};

StartTimes timeStarts(const std::string& exe, const std::vector<std::string>& args, int n) {
    for (int i = 0; i < 10; ++i) {
        firstByteUs(exe, args);
    }
    std::vector<std::int64_t> ns;
    for (int i = 0; i < n; ++i) {
        ns.push_back(static_cast<std::int64_t>(firstByteUs(exe, args) * 1000.0));
    }
    return {bench::quantile(ns, 0.5) / 1000.0, bench::quantile(ns, 0.9) / 1000.0};
}

int run(const Options& o) {
    int onCycles = 0;
    for (const char c : o.cycles) {
        onCycles += c == 'o' || c == 'M' ? 1 : 0;
    }

    // The measured run comes first, while this program is at its smallest (see the top).
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    const long spawnerKib = self.ru_maxrss;
    const RunResult r = runMonitor(o, o.cycles);
    // A fatal stop also ends with status 0; a run that is far shorter than its pauses did
    // not poll all the cycles.
    if (r.status != 0 || r.wallMs < 1000.0 * onCycles - 50.0) {
        throw std::runtime_error("the monitor ended early (status " + std::to_string(r.status) +
                                 " after " + std::to_string(r.wallMs) + " ms)");
    }

    std::vector<std::int64_t> fixedNs;
    for (int i = 0; i < o.fixedRuns; ++i) {
        const RunResult f = runMonitor(o, ".");
        if (f.status != 0) {
            throw std::runtime_error("the monitor ended with status " + std::to_string(f.status) +
                                     " on a board switched off");
        }
        fixedNs.push_back(static_cast<std::int64_t>(f.cpuUs * 1000.0));
    }
    const double fixedUs = bench::quantile(fixedNs, 0.5) / 1000.0;

    const StartTimes prompt = timeStarts(o.boardmon, {}, o.starts);
    const StartTimes echo = timeStarts("/bin/echo", {"/bin/echo", "x"}, o.starts);

    std::printf("whole monitor against boardsim, trace to /dev/null\n");
    std::printf("cycles                    %d        (%s)\n", onCycles, o.cycles.c_str());
    std::printf("wall_ms                   %.1f\n", r.wallMs);
    std::printf(
        "cpu_us_total              %.0f        (user %.0f + sys %.0f; the kernel splits the "
        "total by tick samples)\n",
        r.cpuUs, r.userUs, r.sysUs);
    if (onCycles > 0) {
        std::printf("cpu_us_per_cycle          %.1f        (total / cycles, start-up and "
                    "shutdown included)\n",
                    r.cpuUs / onCycles);
        std::printf("cpu_us_per_cycle_marginal %.1f        ((total - fixed) / cycles)\n",
                    (r.cpuUs - fixedUs) / onCycles);
    }
    std::printf("cpu_us_fixed              %.1f        (switch off at once: start-up, one "
                "poll, LED off, shutdown; median of %d)\n",
                fixedUs, o.fixedRuns);
    std::printf("maxrss_kib                %ld        (wait4 ru_maxrss%s)\n", r.maxRssKib,
                r.maxRssKib > spawnerKib ? ""
                                         : "; NOT above this program's own peak: an upper bound");
    std::printf("vmhwm_kib                 %ld        (largest VmHWM sampled while running)\n",
                r.hwmKib);
    std::printf("spawner_maxrss_kib        %ld\n", spawnerKib);
    std::printf("first_prompt_us           %.0f        (median of %d; p90 %.0f)\n", prompt.median,
                o.starts, prompt.p90);
    std::printf("first_byte_echo_us        %.0f        (/bin/echo, the same way: the floor of "
                "starting a program)\n",
                echo.median);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Options o = parseArgs(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return run(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_monitor: %s\n", e.what());
        return 1;
    }
}
