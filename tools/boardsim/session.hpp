// One monitor connection as the board sees it: request lines in, the firmware's answers (bent by
// the fault plan) out. The socket itself sits behind Link so the whole exchange can be driven
// without a network.
#pragma once

#include "event_log.hpp"
#include "faults.hpp"
#include "scenario.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace boardsim {

enum class IoStatus {
    Ok,
    PeerGone, // the monitor closed or reset the connection
    Stopped,  // boardsim was asked to stop
};

class Link {
public:
    virtual ~Link() = default;
    // Sends all of the bytes in one write (as far as the system allows).
    virtual IoStatus send(std::string_view bytes) = 0;
    virtual IoStatus pause(std::uint64_t ms) = 0;
    virtual void closeOrderly() = 0;
    // Closes so that the peer sees a reset.
    virtual void abort() = 0;
    // Why the last send failed, for the log.
    virtual std::string lastError() const = 0;
};

class Session {
public:
    // answerDelayMs: pause before each request line's actions and answer.
    Session(std::vector<Cycle> cycles, const FaultPlan& plan, EventLog& log, Link& link,
            std::uint64_t answerDelayMs = 0)
        : board_(std::move(cycles)), plan_(plan), log_(log), link_(link),
          answerDelayMs_(answerDelayMs) {}

    // Runs the accept faults. False once the connection is over.
    bool open();
    // Takes bytes from the monitor and handles every complete line. False once the connection
    // is over.
    bool receive(std::string_view bytes);
    // The monitor closed its side: logs what is left without a line end, then the end of input.
    void peerClosed();
    // Closes the connection unless that already happened.
    void finish();

    bool ended() const { return ended_; }
    std::uint64_t requests() const { return requests_; }

    // Bytes streamed per write by flood and bigline.
    static constexpr std::size_t kChunk = 65536;

private:
    // How the answer line is to be sent, as the actions of one request shape it.
    struct Reply {
        std::optional<std::string> payload;
        bool badSum = false;
        std::string_view ending = "\r\n";
        std::uint64_t segment = 0; // 0 = one write
        std::uint64_t gapMs = 0;
        std::vector<std::string> extras;

        std::string packet() const;
    };

    bool handleLine(std::string_view line);
    bool runActions(const std::vector<Action>& actions, Reply& reply, bool& answered);
    // Returns false after ending the connection because of the status.
    bool check(IoStatus status);
    IoStatus sendLogged(std::string_view bytes);
    IoStatus sendSegmented(std::string_view bytes, std::uint64_t segment, std::uint64_t gapMs);
    // Sends `filler` bytes of 'A' between head and tail in chunks; logs one tx line.
    IoStatus stream(std::string_view what, std::string_view head, std::uint64_t filler,
                    std::string_view tail);

    Board board_;
    const FaultPlan& plan_;
    EventLog& log_;
    Link& link_;
    std::uint64_t answerDelayMs_;
    std::string pending_;
    std::uint64_t requests_ = 0;
    bool ended_ = false;
};

} // namespace boardsim
