// The packet codec per packet: the traced routines that the monitor runs (their trace lines are
// built and handed to a console that discards them) and the bare frame functions under them.
#include "link/frame.hpp"
#include "link/packet.hpp"
#include "platform/platform.hpp"

#include <array>
#include <benchmark/benchmark.h>
#include <string>

namespace {

// What one monitor cycle sends: switch, motion, LED on, LED off, keep-alive.
const std::array<std::string, 5> kRequests{"1", "2", "3", "4", "5"};
// Typical answers to them.
const std::array<std::string, 5> kAnswers{"1T", "2F", "3", "4", "5"};
// The longest payload a packet may carry (20 bytes in all).
const std::array<std::string, 1> kLongest{"2T345678901234567"};

template <std::size_t N> std::array<std::string, N> packetsOf(const std::array<std::string, N>& p) {
    std::array<std::string, N> out;
    for (std::size_t i = 0; i < N; ++i) {
        out[i] = frame::encode(p[i]);
    }
    return out;
}

void discardTrace() {
    plat::seams().consoleOut = [](std::string_view line) { benchmark::DoNotOptimize(line); };
}

template <std::size_t N>
void tracedEncode(benchmark::State& state, const std::array<std::string, N>& payloads) {
    discardTrace();
    std::string packet;
    std::size_t i = 0;
    for (auto _ : state) {
        tlk_i_encodePacket(payloads[i], packet);
        benchmark::DoNotOptimize(packet);
        i = i + 1 == N ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

template <std::size_t N>
void tracedDecode(benchmark::State& state, const std::array<std::string, N>& payloads) {
    discardTrace();
    const std::array<std::string, N> packets = packetsOf(payloads);
    std::string payload;
    std::size_t i = 0;
    for (auto _ : state) {
        if (!tlk_i_decodePacket(packets[i], payload)) {
            state.SkipWithError("a valid packet was refused");
            break;
        }
        benchmark::DoNotOptimize(payload);
        i = i + 1 == N ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

template <std::size_t N>
void frameEncode(benchmark::State& state, const std::array<std::string, N>& payloads) {
    std::size_t i = 0;
    for (auto _ : state) {
        std::string packet = frame::encode(payloads[i]);
        benchmark::DoNotOptimize(packet);
        i = i + 1 == N ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

template <std::size_t N>
void frameLengthField(benchmark::State& state, const std::array<std::string, N>& payloads) {
    const std::array<std::string, N> packets = packetsOf(payloads);
    std::size_t i = 0;
    for (auto _ : state) {
        std::string_view packet = packets[i];
        benchmark::DoNotOptimize(packet);
        benchmark::DoNotOptimize(frame::lengthField(packet));
        i = i + 1 == N ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

template <std::size_t N>
void frameChecksum(benchmark::State& state, const std::array<std::string, N>& payloads) {
    const std::array<std::string, N> packets = packetsOf(payloads);
    std::size_t i = 0;
    for (auto _ : state) {
        std::string_view packet = packets[i];
        benchmark::DoNotOptimize(packet);
        benchmark::DoNotOptimize(frame::checksum(packet, static_cast<int>(packet.size())));
        i = i + 1 == N ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK_CAPTURE(tracedEncode, requests, kRequests);
BENCHMARK_CAPTURE(tracedEncode, longest, kLongest);
BENCHMARK_CAPTURE(tracedDecode, answers, kAnswers);
BENCHMARK_CAPTURE(tracedDecode, longest, kLongest);
BENCHMARK_CAPTURE(frameEncode, requests, kRequests);
BENCHMARK_CAPTURE(frameEncode, longest, kLongest);
BENCHMARK_CAPTURE(frameLengthField, answers, kAnswers);
BENCHMARK_CAPTURE(frameChecksum, answers, kAnswers);
BENCHMARK_CAPTURE(frameChecksum, longest, kLongest);

BENCHMARK_MAIN();
