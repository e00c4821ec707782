// The board decides what bytes come and how the network cuts them. The socket's line assembly
// must give the same lines and the same failure whatever the cutting, never a line holding CR LF
// or longer than the bound, and 10040 for every over-long line.
//
// Input: byte 0 seeds the cutting, byte 1 picks how the stream ends; the rest is the stream,
// where 0xFE followed by n stands for n * 40 bytes 'A' so that short inputs reach the bound.
#include "fuzz_check.hpp"
#include "platform/tcp_socket.hpp"
#include "sys_fake.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kBound = TTCPBlockSocket::kMaxLineLength;

struct Result {
    std::string line;
    int error = 0;
    bool operator==(const Result&) const = default;
};

struct Ending {
    sysfake::Incoming step;
    int error;       // the code a receive that meets it gives
    int reportCount; // how many times that code is reported
};

std::vector<std::string> gReports;

void record(TTCPBlockSocket* /*sender*/, THookSocketReason reason, const std::string& value) {
    gReports.push_back(std::to_string(static_cast<int>(reason)) + " " + value);
}

std::string expand(std::string_view in) {
    std::string out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (static_cast<unsigned char>(in[i]) == 0xFE && i + 1 < in.size()) {
            out.append(static_cast<std::size_t>(static_cast<unsigned char>(in[++i])) * 40, 'A');
        } else {
            out += in[i];
        }
    }
    return out;
}

// The lines as the rules cut them, up to and including the first failure; `failedAt` receives
// where the line that failed begins.
std::vector<Result> reference(std::string_view stream, int endError, std::size_t& failedAt) {
    std::vector<Result> out;
    std::size_t pos = 0;
    for (;;) {
        failedAt = pos;
        const std::size_t end = stream.find("\r\n", pos);
        if (end == std::string_view::npos) {
            std::size_t least = stream.size() - pos;
            if (least > 0 && stream.back() == '\r') {
                --least;
            }
            out.push_back({"", least > kBound ? 10040 : endError});
            return out;
        }
        if (end - pos > kBound) {
            out.push_back({"", 10040});
            return out;
        }
        out.push_back({std::string(stream.substr(pos, end - pos)), 0});
        pos = end + 2;
    }
}

class Cutter {
public:
    explicit Cutter(std::uint32_t seed) : state_(seed * 2654435761U | 1U) {}
    std::uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }

private:
    std::uint32_t state_;
};

// Receives lines until the first failure, checking what each call reports.
// At most `maxReceived` bytes may be taken from the stream by then.
std::vector<Result> receiveAll(const std::vector<sysfake::Incoming>& script, const Ending& ending,
                               std::size_t maxReceived) {
    sysfake::reset();
    gReports.clear();
    auto sock = std::make_unique<TTCPBlockSocket>();
    sock->OnStatus = &record;
    sock->Connect("127.0.0.1", "8888");
    FUZZ_REQUIRE(sock->LastError == 0);
    sysfake::state().incoming.assign(script.begin(), script.end());
    sysfake::state().incoming.push_back(ending.step);

    std::vector<Result> results;
    for (;;) {
        gReports.clear();
        Result r{sock->RecvString(1000), sock->LastError};
        FUZZ_REQUIRE(r.line.find("\r\n") == std::string::npos);
        FUZZ_REQUIRE(r.line.size() <= kBound);
        if (r.error != 0) {
            FUZZ_REQUIRE(r.line.empty());
            const int times = r.error == 10040 ? 3 : ending.reportCount;
            FUZZ_REQUIRE(gReports.size() >= static_cast<std::size_t>(times));
            const std::string expected =
                std::to_string(static_cast<int>(HR_Error)) + " " + std::to_string(r.error) + ",";
            for (std::size_t i = gReports.size() - times; i < gReports.size(); ++i) {
                FUZZ_REQUIRE(gReports[i].rfind(expected, 0) == 0);
            }
            results.push_back(r);
            break;
        }
        results.push_back(r);
        FUZZ_REQUIRE(results.size() <= maxReceived / 2 + 1);
    }
    FUZZ_REQUIRE(sysfake::state().received <= maxReceived);
    sock.reset();
    return results;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::string stream =
        expand(std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2));
    const std::array<Ending, 3> endings{{
        {sysfake::peerClosed(), 10054, 2},
        {sysfake::timeOut(), 10060, 2},
        {sysfake::recvFails(10053), 10053, 3},
    }};
    const Ending& ending = endings[data[1] % endings.size()];
    std::size_t failedAt = 0;
    const std::vector<Result> expected = reference(stream, ending.error, failedAt);
    // An over-long line costs at most the bound (and a CR) plus one receive.
    const std::size_t maxReceived =
        expected.back().error == 10040
            ? std::min(stream.size(), failedAt + kBound + 1 + TTCPBlockSocket::kChunk)
            : stream.size();

    // All of it already waiting.
    FUZZ_REQUIRE(receiveAll({sysfake::waiting(stream)}, ending, maxReceived) == expected);

    // Cut into pieces of very different sizes, each arriving after a wait or already there.
    Cutter cut(data[0]);
    std::vector<sysfake::Incoming> pieces;
    for (std::size_t at = 0; at < stream.size();) {
        const std::uint32_t r = cut.next();
        static constexpr std::array<std::size_t, 4> kLargest{8, 300, 5000, 70000};
        const std::size_t n = 1 + (r >> 8) % kLargest[r & 3U];
        const std::string piece = stream.substr(at, n);
        pieces.push_back((r & 16U) != 0 ? sysfake::arrives(piece) : sysfake::waiting(piece));
        at += piece.size();
    }
    FUZZ_REQUIRE(receiveAll(pieces, ending, maxReceived) == expected);
    return 0;
}
