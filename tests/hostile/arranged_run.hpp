// Runs a program with its standard input and output arranged the way a hostile or careless
// caller might leave them: closed, /dev/null, a pipe whose reader is gone or goes away midway.
// Standard error is always captured, since that is where a report goes once standard output
// has failed. The child starts with SIGPIPE at its default action whatever this process does,
// so a write to a dead pipe or socket would kill it unless the program itself guards against it.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace hostile {

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

struct Arrangement {
    Stdin in = Stdin::Text;
    std::string input;
    Stdout out = Stdout::Captured;
    std::string leaveAfter;
    // The child's standard input and output descriptions are made non-blocking, as a careless
    // caller may leave them.
    bool nonBlocking = false;
    // The input is not written before this time, and standard output is not read before this.
    std::chrono::milliseconds inputAfter{0};
    std::chrono::milliseconds readAfter{0};
    std::chrono::milliseconds limit = std::chrono::seconds(30);
};

struct Result {
    std::string out;
    std::string err;
    int status = -1; // exit status when it exited
    int signal = 0;  // the signal that ended it, 0 if none
    bool timedOut = false;
    double seconds = 0;
};

Result runArranged(const std::vector<std::string>& argv, const Arrangement& how);

} // namespace hostile
