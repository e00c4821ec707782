// The built program on real loopback sockets: what it prints, what it answers, how it ends.
// Expected answers are spelled out by hand from the packet rules.
#include "temp_files.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using boardsim_test::readFile;
using boardsim_test::TempDir;

// Only there so that a broken build fails the test instead of hanging it.
constexpr auto kPatience = 20s;

std::vector<std::string> fileLines(const fs::path& p) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(p));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// boardsim as a child process with its stdout and stderr on pipes.
class Boardsim {
public:
    explicit Boardsim(const std::vector<std::string>& args) {
        int out[2];
        int err[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all{BOARDSIM_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&pid_, BOARDSIM_EXE, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        EXPECT_EQ(rc, 0) << std::strerror(rc);
        if (rc != 0) {
            pid_ = -1;
        }
    }

    ~Boardsim() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }

    // The first stdout line, without its LF; empty when the program ended without one.
    std::string firstLine() {
        std::string line;
        char c = 0;
        while (waitReadable(out_) && ::read(out_, &c, 1) == 1) {
            if (c == '\n') {
                return line;
            }
            line += c;
        }
        return line;
    }

    // The port from "listening on ADDRESS:PORT".
    int port() {
        const std::string line = firstLine();
        EXPECT_EQ(line.rfind("listening on ", 0), 0U) << line;
        const auto colon = line.rfind(':');
        return colon == std::string::npos ? -1 : std::atoi(line.c_str() + colon + 1);
    }

    // Exit status, or -1 when it did not exit in time (or died of a signal).
    int wait() {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    void signal(int sig) const { ::kill(pid_, sig); }
    // What is left on a stream once the program has ended.
    std::string restOfStdout() const { return drain(out_); }
    std::string stderrText() const { return drain(err_); }

private:
    static bool waitReadable(int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) > 0;
    }
    static std::string drain(int fd) {
        std::string s;
        char buf[4096];
        while (waitReadable(fd)) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            s.append(buf, static_cast<std::size_t>(n));
        }
        return s;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

class Client {
public:
    explicit Client(int port, int family = AF_INET) {
        fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval tv{static_cast<time_t>(std::chrono::seconds(kPatience).count()), 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        int rc = -1;
        if (family == AF_INET6) {
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_port = htons(static_cast<std::uint16_t>(port));
            a.sin6_addr = in6addr_loopback;
            rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        } else {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<std::uint16_t>(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        EXPECT_EQ(rc, 0) << std::strerror(errno);
    }
    ~Client() { close(); }

    void send(std::string_view bytes) const {
        EXPECT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }

    // Exactly n bytes, or fewer when the connection ends first.
    std::string read(std::size_t n) {
        std::string s;
        char buf[65536];
        while (s.size() < n) {
            const ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - s.size()), 0);
            if (got <= 0) {
                lastErrno = got < 0 ? errno : 0;
                break;
            }
            s.append(buf, static_cast<std::size_t>(got));
        }
        return s;
    }

    // How the connection ended: 0 for an orderly close, otherwise the errno of the receive.
    int endOfStream() {
        char c = 0;
        const ssize_t got = ::recv(fd_, &c, 1, 0);
        EXPECT_LE(got, 0) << "unexpected byte " << c;
        return got == 0 ? 0 : errno;
    }

    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    int lastErrno = 0;

private:
    int fd_ = -1;
};

TEST(BoardsimProcess, AnswersRequestsAndLogsTheExactBytes) {
    const TempDir dir;
    const fs::path log = dir / "exchange.log";
    Boardsim sim({"--listen", "127.0.0.1:0", "--once", "--cycles", "oM.", "--log", log});
    const int port = sim.port();
    ASSERT_GT(port, 0);
    {
        Client c(port);
        c.send("5041\r\n");
        EXPECT_EQ(c.read(7), "`051T\r\n");
        c.send("6042\r\n");
        EXPECT_EQ(c.read(7), "q052F\r\n");
        c.send("5041\r\n6042\r\n");
        EXPECT_EQ(c.read(14), "`051T\r\nc052T\r\n");
        c.send("7043\r\n0044\r\n1045\r\n");
        EXPECT_EQ(c.read(18), "7043\r\n0044\r\n1045\r\n");
        c.send("5041\r\n50");
        EXPECT_EQ(c.read(7), "r051F\r\n");
    }
    EXPECT_EQ(sim.wait(), 0);
    EXPECT_EQ(sim.restOfStdout(), "");

    const auto lines = fileLines(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("accept 127.0.0.1:", 0), 0U) << lines[0];
    const std::vector<std::string> rest(lines.begin() + 1, lines.end());
    EXPECT_EQ(rest,
              (std::vector<std::string>{
                  R"(rx "5041\r\n")", R"(tx "`051T\r\n")", R"(rx "6042\r\n")", R"(tx "q052F\r\n")",
                  R"(rx "5041\r\n")", R"(tx "`051T\r\n")", R"(rx "6042\r\n")", R"(tx "c052T\r\n")",
                  R"(rx "7043\r\n")", R"(tx "7043\r\n")", R"(rx "0044\r\n")", R"(tx "0044\r\n")",
                  R"(rx "1045\r\n")", R"(tx "1045\r\n")", R"(rx "5041\r\n")", R"(tx "r051F\r\n")",
                  R"(rx-partial "50")", "eof", "close"}));
}

TEST(BoardsimProcess, ServesOneMonitorAfterAnotherAndStopsOnSigterm) {
    Boardsim sim({"--listen", "127.0.0.1:0", "--cycles", "M", "--log", "/dev/null"});
    const int port = sim.port();
    ASSERT_GT(port, 0);
    for (int round = 0; round < 2; ++round) {
        Client c(port);
        c.send("5041\r\n6042\r\n5041\r\n");
        EXPECT_EQ(c.read(21), "`051T\r\nc052T\r\nr051F\r\n") << "connection " << round;
    }
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait(), 0);
}

TEST(BoardsimProcess, SigintWhileAMonitorIsConnectedExitsCleanly) {
    Boardsim sim({"--listen", "127.0.0.1:0", "--fault", "1:raw=wait", "--fault", "1:delay=600000"});
    const int port = sim.port();
    ASSERT_GT(port, 0);
    Client c(port);
    c.send("5041\r\n");
    // Once this arrives boardsim is in the middle of the delay.
    ASSERT_EQ(c.read(4), "wait");
    sim.signal(SIGINT);
    EXPECT_EQ(sim.wait(), 0);
    EXPECT_EQ(c.endOfStream(), 0);
}

TEST(BoardsimProcess, CloseAndResetEndTheConnectionDifferently) {
    {
        Boardsim sim({"--listen", "127.0.0.1:0", "--once", "--fault", "2:close"});
        Client c(sim.port());
        c.send("5041\r\n");
        EXPECT_EQ(c.read(7), "`051T\r\n");
        c.send("6042\r\n");
        EXPECT_EQ(c.endOfStream(), 0);
        c.close();
        EXPECT_EQ(sim.wait(), 0);
    }
    {
        Boardsim sim({"--listen", "127.0.0.1:0", "--once", "--fault", "1:reset"});
        Client c(sim.port());
        c.send("5041\r\n");
        EXPECT_EQ(c.endOfStream(), ECONNRESET);
        EXPECT_EQ(sim.wait(), 0);
    }
}

TEST(BoardsimProcess, FloodArrivesWholeAndAnAbandonedFloodDoesNotKillIt) {
    const TempDir dir;
    const fs::path log = dir / "flood.log";
    Boardsim sim({"--listen", "127.0.0.1:0", "--log", log, "--fault", "1:flood=3M", "--fault",
                  "2:flood=8G"});
    const int port = sim.port();
    ASSERT_GT(port, 0);
    {
        Client c(port);
        c.send("5041\r\n");
        const std::string flood = c.read(3 << 20);
        EXPECT_EQ(flood.size(), 3U << 20);
        EXPECT_EQ(flood.find_first_of("\r\n"), std::string::npos);
        // The flood replaced the answer: the next bytes belong to the next request.
        c.send("6042\r\n");
        EXPECT_EQ(c.read(100000).size(), 100000U);
    }
    // The monitor left in the middle of the flood; boardsim still takes the next one, and the
    // fault plan starts over with it.
    Client again(port);
    again.send("6042\r\n");
    EXPECT_EQ(again.read(3 << 20), std::string(3 << 20, 'A'));
    again.close();
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait(), 0);

    const std::string text = readFile(log);
    EXPECT_NE(text.find("tx flood 3145728 bytes\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nlost send: "), std::string::npos) << text;
}

TEST(BoardsimProcess, PortInUseIsARuntimeFailure) {
    Boardsim first({"--listen", "127.0.0.1:0"});
    const int port = first.port();
    ASSERT_GT(port, 0);
    const std::string address = "127.0.0.1:" + std::to_string(port);
    Boardsim second({"--listen", address});
    EXPECT_EQ(second.wait(), 1);
    EXPECT_EQ(second.restOfStdout(), "");
    const std::string err = second.stderrText();
    EXPECT_EQ(err.rfind("boardsim: ", 0), 0U) << err;
    EXPECT_NE(err.find(address), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

struct BadRun {
    std::vector<std::string> args;
    int status;
};

TEST(BoardsimProcess, BadInputGivesOneMessageAndTheRightStatus) {
    const std::vector<BadRun> runs = {
        {{"--bogus"}, 2},
        {{"--listen", "127.0.0.1:99999"}, 2},
        {{"--cycles", "oMx"}, 2},
        {{"--fault", "1:explode"}, 2},
        {{"--fault", "accept:answer=1T"}, 2},
        {{"--log", "/nonexistent/dir/boardsim.log", "--listen", "127.0.0.1:0"}, 1},
        {{"--cycles", "@/nonexistent/boardsim.cycles"}, 1},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(::testing::PrintToString(run.args));
        Boardsim sim(run.args);
        EXPECT_EQ(sim.wait(), run.status);
        EXPECT_EQ(sim.restOfStdout(), "");
        const std::string err = sim.stderrText();
        EXPECT_EQ(err.rfind("boardsim: ", 0), 0U) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

TEST(BoardsimProcess, ListensOnIpv6Loopback) {
    const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    const bool haveIpv6 =
        probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (probe >= 0) {
        ::close(probe);
    }
    if (!haveIpv6) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    Boardsim sim({"--listen", "[::1]:0", "--once", "--log", "/dev/null"});
    const std::string line = sim.firstLine();
    ASSERT_EQ(line.rfind("listening on [::1]:", 0), 0U) << line;
    Client c(std::atoi(line.c_str() + line.rfind(':') + 1), AF_INET6);
    c.send("1045\r\n");
    EXPECT_EQ(c.read(6), "1045\r\n");
    c.close();
    EXPECT_EQ(sim.wait(), 0);
}

TEST(BoardsimProcess, WriteAlarmKeepsAnExistingFile) {
    const TempDir dir;
    const fs::path wav = dir / "new" / "klaxon.wav";
    {
        Boardsim sim({"--write-alarm", wav});
        EXPECT_EQ(sim.wait(), 0);
        EXPECT_EQ(sim.stderrText(), "");
    }
    const std::string first = readFile(wav);
    EXPECT_EQ(first.substr(0, 4), "RIFF");
    std::ofstream(wav, std::ios::app) << "mark";
    {
        Boardsim sim({"--write-alarm", wav});
        EXPECT_EQ(sim.wait(), 0);
        EXPECT_NE(sim.stderrText().find("already exists"), std::string::npos);
    }
    EXPECT_EQ(readFile(wav), first + "mark");
}

} // namespace
