// The command line.
#pragma once

#include "faults.hpp"
#include "scenario.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace boardsim {

// A numeric listening address; IPv6 ones are written in brackets.
struct Endpoint {
    std::string host = "127.0.0.1";
    std::uint16_t port = 8888;
    bool v6 = false;

    std::string text() const;
    bool operator==(const Endpoint&) const = default;
};

// ADDRESS:PORT with a numeric IPv4 address or a bracketed IPv6 one, PORT 0..65535.
Endpoint parseEndpoint(std::string_view text);

struct Options {
    enum class Mode { Serve, WriteAlarm, Help };
    Mode mode = Mode::Serve;
    Endpoint listen;
    std::vector<Cycle> cycles = parseCycles(kDefaultCycles);
    FaultPlan faults;
    // Pause before each request line is handled, so a monitor is already waiting when its answer
    // (or whatever replaces it) comes.
    std::uint64_t answerDelayMs = 0;
    std::string logPath = "-";
    bool once = false;
    std::string alarmPath;
};

// The arguments after the program name. Every option takes its value either as the next
// argument or after '='. Throws UsageError, or RuntimeFailure when a cycles file cannot be read.
Options parseArgs(const std::vector<std::string>& args);

std::string usageText();

} // namespace boardsim
