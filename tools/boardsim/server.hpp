// The listening side: accepts one monitor at a time and runs a Session over a real socket.
#pragma once

#include "event_log.hpp"
#include "faults.hpp"
#include "options.hpp"
#include "scenario.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace boardsim {

struct ServerSettings {
    Endpoint listen;
    std::vector<Cycle> cycles;
    FaultPlan faults;
    std::uint64_t answerDelayMs = 0;
    bool once = false;
};

class Server {
public:
    // Throws RuntimeFailure when the stop pipe cannot be made.
    Server(ServerSettings settings, EventLog& log);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and listens; returns the address actually bound ("127.0.0.1:40123"). Throws
    // RuntimeFailure (port in use, for one).
    std::string listen();
    // Serves connections until stopped, or until the first one ends with `once`.
    void run();
    // Makes run() return soon. Safe from a signal handler or another thread.
    void requestStop() const;
    // The descriptor requestStop() writes to, for a signal handler.
    int stopWriteFd() const { return stopPipe_[1]; }

private:
    void serve(int fd, const std::string& peer);
    bool stopRequested() const;

    ServerSettings settings_;
    EventLog& log_;
    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
};

} // namespace boardsim
