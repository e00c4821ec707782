// boardsim: the board the monitor talks to, simulated over TCP for tests, demos and benchmarks.
#include "errors.hpp"
#include "event_log.hpp"
#include "options.hpp"
#include "server.hpp"
#include "wav.hpp"

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t gStopFd = -1;

extern "C" void onStopSignal(int) {
    const char b = 's';
    if (gStopFd >= 0) {
        [[maybe_unused]] const auto n = ::write(gStopFd, &b, 1);
    }
}

void installSignals(const boardsim::Server& server) {
    gStopFd = server.stopWriteFd();
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

void complain(const char* what) {
    std::fprintf(stderr, "boardsim: %s\n", what);
}

int serve(const boardsim::Options& options) {
    boardsim::LogFile file(options.logPath);
    boardsim::EventLog log([&file](std::string_view line) { file.write(line); });
    boardsim::Server server(
        {options.listen, options.cycles, options.faults, options.answerDelayMs, options.once}, log);
    installSignals(server);
    const std::string bound = server.listen();
    std::printf("listening on %s\n", bound.c_str());
    std::fflush(stdout);
    server.run();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // A monitor that went away shows up as a failed send, not as a dead simulator.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        const boardsim::Options options =
            boardsim::parseArgs(std::vector<std::string>(argv + 1, argv + argc));
        switch (options.mode) {
        case boardsim::Options::Mode::Help:
            std::fputs(boardsim::usageText().c_str(), stdout);
            return 0;
        case boardsim::Options::Mode::WriteAlarm:
            if (boardsim::writeAlarm(options.alarmPath) == boardsim::AlarmWrite::AlreadyThere) {
                std::fprintf(stderr, "boardsim: %s already exists, left as it is\n",
                             options.alarmPath.c_str());
            }
            return 0;
        case boardsim::Options::Mode::Serve:
            return serve(options);
        }
    } catch (const boardsim::UsageError& e) {
        complain(e.what());
        return 2;
    } catch (const std::exception& e) {
        complain(e.what());
        return 1;
    }
    return 1;
}
