// What the simulated board's firmware does: the readings it reports and the answer it gives to
// each request.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace boardsim {

// One switch reading and the motion that goes with it.
enum class Cycle : char {
    OnMotion = 'M', // switch on, motion seen
    OnQuiet = 'o',  // switch on, nothing moving
    Off = '.',      // switch off
};

inline constexpr std::string_view kDefaultCycles = "oMMo.";

// Letters M, o and . in order; whitespace is skipped. Throws UsageError on any other character.
std::vector<Cycle> parseCycles(std::string_view letters);

// The letters of a cycles file with whitespace and # comments (to the end of the line) removed,
// parsed. Throws RuntimeFailure when the file cannot be read, UsageError for a bad letter.
std::vector<Cycle> loadCyclesFile(const std::string& path);

// The payload of a request line (without its CR LF), or nothing when the packet is not valid:
// shorter than 4 bytes, a length field outside 3..20 or beyond the bytes received, or a checksum
// that does not match. Bytes past the length field are ignored.
std::optional<std::string> decodeRequest(std::string_view packet);

// The firmware's state for one connection: every switch query takes the next cycle (off once the
// cycles run out) and motion queries report the cycle of the latest switch query.
class Board {
public:
    explicit Board(std::vector<Cycle> cycles) : cycles_(std::move(cycles)) {}

    // The answer payload to a request payload, or nothing for an unknown request.
    std::optional<std::string> answer(std::string_view request);

private:
    std::vector<Cycle> cycles_;
    std::size_t next_ = 0;
    // Before the first switch query nothing moves.
    Cycle current_ = Cycle::Off;
};

} // namespace boardsim
