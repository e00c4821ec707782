// Misbehaviour on demand: what boardsim does instead of (or on top of) the firmware's answer at a
// given point of a connection.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace boardsim {

struct Action {
    enum class Kind {
        Delay,   // count = ms to wait before what follows
        Answer,  // text = the answer payload to send instead
        BadSum,  // spoil the answer's checksum byte
        Lf,      // end the answer line with LF alone
        Cr,      // end the answer line with CR alone
        Split,   // count = bytes per segment, gapMs = pause between segments
        Extra,   // text = a further line sent after the answer line
        Raw,     // text = bytes sent as they are; no answer
        Flood,   // count = bytes without CR/LF streamed; no answer
        BigLine, // count = bytes of the answer line before its line end; no normal answer
        Silent,  // no answer
        Close,   // orderly close instead of answering
        Reset,   // abortive close (RST) instead of answering
    };
    Kind kind = Kind::Silent;
    std::string text;
    std::uint64_t count = 0;
    std::uint64_t gapMs = 0;

    bool operator==(const Action&) const = default;
};

// The WHEN of faults that run right after accepting, before anything is read.
inline constexpr std::uint64_t kAtAccept = 0;

struct Fault {
    std::uint64_t when = kAtAccept; // 1-based request line index, or kAtAccept
    Action action;

    bool operator==(const Fault&) const = default;
};

// WHEN:ACTION as given to --fault. Throws UsageError when either half is wrong, including an
// action that needs an answer given for `accept`.
Fault parseFault(std::string_view text);

class FaultPlan {
public:
    void add(Fault fault) { faults_.push_back(std::move(fault)); }
    // The actions for one point of the connection, in the order they were added.
    std::vector<Action> at(std::uint64_t when) const;
    bool empty() const { return faults_.empty(); }

private:
    std::vector<Fault> faults_;
};

} // namespace boardsim
