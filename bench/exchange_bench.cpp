// Request/answer latency over loopback: the monitor's own link (tlk_sendStr + tlk_getStr on a
// TTCPBlockSocket with the status trace attached, trace written to standard output) against a
// plain send/recv ping-pong of the same bytes with the same peer. A third path runs the link
// with the trace lines built but not written, which shows what the writes cost. Standard output
// is pointed at /dev/null unless --keep-stdout is given; the results go to standard error.
#include "answer_peer.hpp"
#include "app/status.hpp"
#include "link/frame.hpp"
#include "link/transport.hpp"
#include "platform/platform.hpp"
#include "stats.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

struct Options {
    int exchanges = 20000;
    int block = 500;
    bool keepStdout = false;
};

void usage() {
    std::fputs("usage: bench_exchange [--exchanges N] [--block N] [--keep-stdout]\n"
               "  --exchanges N   measured exchanges per path (default 20000)\n"
               "  --block N       exchanges per turn; the paths take turns (default 500)\n"
               "  --keep-stdout   leave the trace on standard output instead of /dev/null\n",
               stderr);
}

Options parseArgs(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--exchanges" || a == "--block") && i + 1 < argc) {
            const int v = std::atoi(argv[++i]);
            if (v <= 0) {
                usage();
                std::exit(2);
            }
            (a == "--exchanges" ? o.exchanges : o.block) = v;
        } else if (a == "--keep-stdout") {
            o.keepStdout = true;
        } else {
            usage();
            std::exit(a == "--help" ? 0 : 2);
        }
    }
    return o;
}

// Processor time of the calling thread, in nanoseconds.
std::int64_t threadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

const std::string kPayload = "1";
const std::string kAnswerPayload = "1T";

void monitorExchange() {
    tlk_sendStr(kPayload);
    std::string answer;
    if (!tlk_getStr(answer) || answer != kAnswerPayload) {
        throw std::runtime_error("the monitor's link got no valid answer (LastError " +
                                 std::to_string(tcp->LastError) + ")");
    }
}

class RawClient {
public:
    explicit RawClient(std::uint16_t port)
        : fd_(bench::connectLoopback(port)), request_(frame::encode(kPayload) + "\r\n"),
          answer_(bench::answerLine(request_)) {}
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    void exchange() {
        if (::send(fd_, request_.data(), request_.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request_.size())) {
            throw std::runtime_error(std::string("raw send: ") + std::strerror(errno));
        }
        std::size_t have = 0;
        while (have < 2 || buf_[have - 2] != '\r' || buf_[have - 1] != '\n') {
            const ssize_t n = ::recv(fd_, buf_ + have, sizeof buf_ - have, 0);
            if (n <= 0) {
                throw std::runtime_error("raw recv: connection ended");
            }
            have += static_cast<std::size_t>(n);
        }
        if (std::string_view(buf_, have) != answer_) {
            throw std::runtime_error("raw exchange: unexpected answer");
        }
    }

private:
    int fd_;
    std::string request_;
    std::string answer_;
    char buf_[256] = {};
};

// One way of making the exchange, with what was measured on it.
struct Path {
    enum Kind { Traced, Untraced, Raw };
    const char* name;
    Kind kind;
    std::vector<std::int64_t> latencyNs;
    std::int64_t cpuNs = 0;
};

void exchangeOn(Path::Kind kind, RawClient& raw) {
    if (kind == Path::Raw) {
        raw.exchange();
    } else {
        monitorExchange();
    }
}

// The monitor paths differ only in where the trace goes: the real standard output, or nowhere
// (the line is still built, but no write is made).
void routeTrace(Path::Kind kind) {
    if (kind == Path::Untraced) {
        plat::seams().consoleOut = [](std::string_view) {};
    } else {
        plat::seams().consoleOut = nullptr;
    }
}

int run(const Options& o) {
    if (!o.keepStdout) {
        const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (devNull < 0 || ::dup2(devNull, STDOUT_FILENO) < 0) {
            std::perror("bench_exchange: /dev/null");
            return 1;
        }
        ::close(devNull);
    }
    plat::processStart();

    bench::AnswerPeer peer;
    tcp = new TTCPBlockSocket;
    tcp->OnStatus = &TMyEventObject::MyStatus;
    tcp->Connect("127.0.0.1", std::to_string(peer.port()));
    if (tcp->LastError != 0) {
        std::fprintf(stderr, "bench_exchange: connect failed, LastError %d\n", tcp->LastError);
        return 1;
    }
    RawClient raw(peer.port());

    std::vector<Path> paths{{"boardmon", Path::Traced, {}, 0},
                            {"untraced", Path::Untraced, {}, 0},
                            {"raw", Path::Raw, {}, 0}};
    for (Path& p : paths) {
        p.latencyNs.reserve(static_cast<std::size_t>(o.exchanges));
        routeTrace(p.kind);
        for (int i = 0; i < o.block; ++i) {
            exchangeOn(p.kind, raw);
        }
    }
    // The paths take turns, so that a slow spell of the machine falls on all of them alike.
    for (int done = 0; done < o.exchanges; done += o.block) {
        const int count = std::min(o.block, o.exchanges - done);
        for (Path& p : paths) {
            routeTrace(p.kind);
            const std::int64_t cpu0 = threadCpuNs();
            for (int i = 0; i < count; ++i) {
                const std::int64_t t0 = bench::nowNs();
                exchangeOn(p.kind, raw);
                p.latencyNs.push_back(bench::nowNs() - t0);
            }
            p.cpuNs += threadCpuNs() - cpu0;
        }
    }
    routeTrace(Path::Traced);
    delete tcp;
    tcp = nullptr;

    std::fprintf(stderr,
                 "exchange latency over loopback: %d exchanges per path, turns of %d\n"
                 "%-10s %10s %10s %10s %16s\n",
                 o.exchanges, o.block, "path", "median_us", "p99_us", "mean_us", "cpu_us/exchange");
    double median[3] = {};
    double p99[3] = {};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        Path& p = paths[i];
        const double n = static_cast<double>(p.latencyNs.size());
        const double meanNs = bench::mean(p.latencyNs);
        median[i] = bench::quantile(p.latencyNs, 0.5) / 1000.0;
        p99[i] = bench::quantile(p.latencyNs, 0.99) / 1000.0;
        std::fprintf(stderr, "%-10s %10.2f %10.2f %10.2f %16.2f\n", p.name, median[i], p99[i],
                     meanNs / 1000.0, static_cast<double>(p.cpuNs) / n / 1000.0);
    }
    std::fprintf(stderr, "ratio boardmon/raw: median %.2f p99 %.2f\n", median[0] / median[2],
                 p99[0] / p99[2]);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Options o = parseArgs(argc, argv);
    try {
        return run(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_exchange: %s\n", e.what());
        return 1;
    }
}
