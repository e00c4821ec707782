// Runs the real boardmon binary against the simulated board and captures what it prints.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace e2e {

struct Outcome {
    std::string out; // everything the program wrote to standard output
    std::string err; // what it wrote to standard error, when that was captured
    int status = -1; // exit status when it exited
    int signal = 0;  // the signal that ended it, 0 if none
    bool timedOut = false;
    double seconds = 0;
};

// How a run's standard streams are set up: the usual way (the input on a pipe, standard output
// read to the end), or the way a hostile or careless caller might leave them.
enum class Stdin {
    Text,    // a pipe fed with the given text, then closed
    DevNull, // /dev/null
    Closed,  // descriptor 0 not open at all
};

enum class Stdout {
    Captured,     // a pipe read to the end
    Closed,       // descriptor 1 not open at all
    ReaderGone,   // a pipe whose read end is closed before the program starts
    ReaderLeaves, // a pipe read until `leaveAfter` has appeared, then its read end is closed
};

enum class Stderr {
    Captured,  // a pipe read to the end, into Outcome::err
    Inherited, // this process's own standard error
};

struct Arrangement {
    Stdin in = Stdin::Text;
    std::string input;
    Stdout out = Stdout::Captured;
    std::string leaveAfter;
    Stderr err = Stderr::Captured;
    // The child's standard input and output descriptions are made non-blocking, as a careless
    // caller may leave them.
    bool nonBlocking = false;
    // The input is not written before this time, and standard output is not read before this.
    std::chrono::milliseconds inputAfter{0};
    std::chrono::milliseconds readAfter{0};
    // Killed after this.
    std::chrono::milliseconds limit = std::chrono::seconds(30);
    // Entries ("NAME=value") added to the environment, replacing any of the same name.
    std::vector<std::string> env;
};

// Runs a command arranged as `how` says and waits for it to end. The child starts with SIGPIPE
// at its default action whatever this process does, so a write to a dead pipe or socket would
// kill it unless the program itself guards against it.
Outcome runArranged(const std::vector<std::string>& argv, const Arrangement& how);

// The command that runs boardmon: $BOARDMON_CMD split at blanks (for example
// "wine build-win/boardmon.exe"), or the binary this suite was built with.
std::vector<std::string> monitorCommand();

// Runs a command with `input` on its standard input (closed after it), captures standard output,
// leaves standard error to this process, and waits for it to end; kills it after `limit`.
// `env` entries ("NAME=value") are added to the environment, replacing any of the same name.
Outcome run(const std::vector<std::string>& argv, const std::string& input,
            std::chrono::milliseconds limit = std::chrono::seconds(30),
            const std::vector<std::string>& env = {});

// Runs boardmon with the operator's input.
Outcome runMonitor(const std::string& input,
                   std::chrono::milliseconds limit = std::chrono::seconds(30),
                   const std::vector<std::string>& env = {});

// True when boardmon runs as the Windows build (under Wine).
bool windowsBuild();

// A boardsim process listening on a free loopback port, stopped by its process id when the
// object goes.
class Board {
public:
    // Every answer is held back a little, so the monitor is always already waiting for it and
    // its read reports come out the same on every run.
    static constexpr int kAnswerDelayMs = 50;

    explicit Board(std::vector<std::string> args, const std::string& listen = "127.0.0.1:0");
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    int port() const { return port_; }
    // The operator's answers that lead boardmon here: the default address, then the port.
    std::string answers() const { return "\n" + std::to_string(port_) + "\n"; }
    // The exchange log written so far.
    std::string log() const;
    // Waits until boardsim has exited by itself (it was started with --once); returns its status.
    int wait(std::chrono::milliseconds limit = std::chrono::seconds(10));

private:
    int pid_ = -1;
    int port_ = 0;
    std::string logPath_;
};

// A loopback port on which nothing listens (bound, then released).
int unusedPort();

// "text" + CR LF.
std::string L(const std::string& text);

} // namespace e2e
