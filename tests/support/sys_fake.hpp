// A scripted stand-in for every primitive of src/platform/sys.hpp, so the real socket class (and
// the console) can run without a network or a terminal. A test writes down what the board's side
// of the connection does, step by step, then reads back what was sent and which calls were made.
// One global script, for single-threaded tests and fuzz targets; reset() starts a fresh one.
#pragma once

#include "platform/sys.hpp"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace sysfake {

// One step of the incoming side, in the order the socket meets them.
struct Incoming {
    enum class Kind {
        Waiting,    // bytes already there when the socket next asks what is waiting
        Arrives,    // bytes that come during a wait for data
        TimeOut,    // a wait for data that ends with nothing
        PeerClosed, // end of stream; stays for every later wait and receive
        RecvFails,  // one receive fails with `code`; until then `perRead` bytes show as
                    // waiting (0: the socket turns readable after a wait instead)
        WaitFails,  // one wait for data fails with `code`
        Endless,    // a stream that never stops, `perRead` bytes ready for every receive
    };
    Kind kind;
    std::string bytes;
    int code = 0;
    std::size_t perRead = 0;
};

Incoming waiting(std::string bytes);
Incoming arrives(std::string bytes);
Incoming timeOut();
Incoming peerClosed();
Incoming recvFails(int code, std::size_t claimsWaiting = 0);
Incoming waitFails(int code);
Incoming endless(std::size_t perRead);

// How one send call ends: it accepts at most `accept` bytes, or fails with `code`.
struct SendStep {
    int code = 0;
    std::size_t accept = 0;
};
SendStep sendAccepts(std::size_t bytes);
SendStep sendFails(int code);

// sys::exit throws this, so a test sees the status instead of losing the process.
struct Exited {
    int status;
};

// Raised when the code under test does what a real system would block on forever (a receive
// with nothing coming) or uses a handle it does not hold.
class Misuse : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

struct State {
    // --- the script ---
    std::deque<Incoming> incoming; // an empty script waits in vain: every wait times out
    std::deque<SendStep> sends;    // once empty, every send accepts everything
    int resolveResult = 0;
    std::string resolvedText = "127.0.0.1";
    bool resolvedIpv6 = false;
    std::map<std::string, std::uint16_t> services;
    int createResult = 0;
    int connectResult = 0;
    int shutdownResult = 0;

    std::string stdinData;
    const char* stdinError = nullptr;  // set: every read of standard input fails with it
    const char* stdoutError = nullptr; // set: every write to standard output fails with it
    bool socketLibraryStarts = true;
    std::int64_t clockMs = 0;

    // --- what happened ---
    std::vector<std::string> calls; // "resolve HOST PORT", "create", "connect", "shutdown",
                                    // "close"; waits and receives are counted instead
    std::string sent;
    std::vector<std::size_t> sendSizes; // the length offered to each send call
    std::vector<int> waitTimeouts;      // the time-out of each wait for data
    std::size_t recvCalls = 0;
    std::uint64_t received = 0; // bytes handed out by receives
    std::string stdoutData;
    std::string stderrData;
    std::size_t stdinPos = 0;
    std::vector<std::uint32_t> sleeps;
    std::vector<std::string> played;

    // --- inside the fake ---
    std::string buffered; // arrived, not yet received
    sys::Handle openHandle = sys::kNoHandle;
    sys::Handle nextHandle = 3;
};

State& state();
// Forgets the whole script and record.
void reset();
// Appends steps to the incoming script.
void script(std::initializer_list<Incoming> steps);

} // namespace sysfake
