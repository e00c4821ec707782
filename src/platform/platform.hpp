// The services boardmon takes from the operating system: console, clock, sleep, sound and
// process exit. The socket is in tcp_socket.hpp. Everything here is system-neutral; each system
// supplies the primitives of sys.hpp.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace plat {

// Raised when standard output or standard input fails for a reason other than end of input.
// Nothing in the program handles it: it reaches the process entry and ends the run with 217.
class ConsoleError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Exit status of a run that ended on an error that nothing handled.
inline constexpr int kUncaughtErrorStatus = 217;

// Process start-up: must run before anything else. Makes broken pipes and finished sound
// players harmless and starts the system's socket library. If that library cannot be started
// it reports so and ends the process with kUncaughtErrorStatus.
void processStart();

// Writes text without a line end; the text reaches standard output before the call returns.
// Throws ConsoleError when the write fails.
void conWrite(std::string_view text);

// Writes text followed by CR LF, as one write. Throws ConsoleError when the write fails.
void conWriteLine(std::string_view text);

// Reads one answer from standard input. The answer ends at LF, CR, CR LF (both consumed) or
// code 26; code 26 is never consumed, so every later answer is empty. End of input gives what
// was read so far, possibly empty. Throws ConsoleError on a read error other than end of input.
std::string conReadLine();

// The local date and time, in whole milliseconds, as days since 1899-12-30 (the fraction is the
// time of day).
double nowDateTime();

// Blocks the calling thread for ms milliseconds without using the processor.
void sleepMs(std::uint32_t ms);

// Starts playing a WAV file and returns at once. A missing or unplayable file plays nothing and
// reports nothing. "c:/..." paths lead to "/..." on systems without drive letters.
void playWavAsync(const std::string& path);

// Ends the process with the given status. Never returns.
[[noreturn]] void exitProcess(int status);

// The fatal stop: writes the message as a line and ends the process with status 0. Nothing is
// closed first.
[[noreturn]] void fatalStop(std::string_view message);

// Ends the run after an error that nothing handled: reports it on standard output if that is
// still possible, then exits with kUncaughtErrorStatus.
[[noreturn]] void uncaughtError(std::string_view what);

// Test seams. Each one that is set replaces the real service; the program's routines never
// look at them. exit must not return (a test's exit throws).
struct Seams {
    std::function<void(std::string_view)> consoleOut;
    std::function<std::string()> consoleIn;
    std::function<double()> clock;
    std::function<void(std::uint32_t)> sleep;
    std::function<void(const std::string&)> sound;
    std::function<void(int)> exit;
};
Seams& seams();

// One millisecond and one minute as fractions of a day.
inline constexpr double kMsPerDay = 86400000.0;
inline constexpr double kOneMinute = 1.0 / 1440.0;

// Days since 1899-12-30 for a count of milliseconds since 1970-01-01 (local time).
inline double dateTimeFromUnixMs(std::int64_t ms) {
    constexpr std::int64_t kUnixEpochDays = 25569;
    std::int64_t days = ms / 86400000;
    std::int64_t msOfDay = ms % 86400000;
    if (msOfDay < 0) {
        msOfDay += 86400000;
        --days;
    }
    return static_cast<double>(kUnixEpochDays + days) + static_cast<double>(msOfDay) / kMsPerDay;
}

} // namespace plat
