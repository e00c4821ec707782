// Whatever line the board sends reaches the packet decoder. It must never read past the packet,
// must accept exactly the packets the acceptance rules allow, and what it accepts must be what
// the encoder builds for that payload. The encoder's own output must come back through it.
#include "fuzz_check.hpp"
#include "link/frame.hpp"
#include "link/packet.hpp"
#include "platform/platform.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The acceptance rules, restated here on their own: at least 4 bytes; two length digits giving
// 3..20 and no more than the bytes received; the checksum byte equal to the XOR of offsets
// 1 .. len-1, reduced to 7 bits and lifted to 32..127.
bool acceptable(std::string_view p, std::string& payload) {
    if (p.size() < 4 || !isDigit(p[1]) || !isDigit(p[2])) {
        return false;
    }
    const std::size_t len = static_cast<std::size_t>((p[1] - '0') * 10 + (p[2] - '0'));
    if (len < 3 || len > 20 || len > p.size()) {
        return false;
    }
    unsigned x = 0;
    for (std::size_t i = 1; i < len; ++i) {
        x ^= static_cast<unsigned char>(p[i]);
    }
    x &= 127U;
    if (x < 32U) {
        x |= 32U;
    }
    if (static_cast<unsigned char>(p[0]) != x) {
        return false;
    }
    payload = std::string(p.substr(3, len - 3));
    return true;
}

void decodeReceived(std::string_view bytes) {
    const std::string packet(bytes);
    std::string payload = "left from before";
    const bool accepted = tlk_i_decodePacket(packet, payload);
    std::string expected;
    FUZZ_REQUIRE(accepted == acceptable(bytes, expected));
    FUZZ_REQUIRE(payload == expected);
    if (accepted) {
        const std::size_t len = static_cast<std::size_t>(frame::lengthField(bytes));
        FUZZ_REQUIRE(frame::encode(payload) == bytes.substr(0, len));
    }
}

// The pure frame functions over a buffer of exactly the input's size, so ASan sees any byte
// read beyond it, with every count the length field or the input can give.
void frameOnExactBuffer(const std::uint8_t* data, std::size_t size) {
    const std::unique_ptr<char[]> exact(new char[size]);
    std::copy(data, data + size, exact.get());
    const std::string_view view(exact.get(), size);
    const int len = frame::lengthField(view);
    FUZZ_REQUIRE(len >= -1 && len <= 99);
    for (const int n : {len, static_cast<int>(size), static_cast<int>(size) + 1, 99, -5}) {
        const std::uint32_t x = frame::checksum(view, n);
        FUZZ_REQUIRE(x >= 32U && x <= 127U);
    }
}

// A payload framed by the encoder decodes to itself, as far as the length field (kept modulo
// 100) reaches, whenever that length is one the decoder takes.
void roundTrip(std::string_view payload) {
    const std::string packet = frame::encode(payload);
    FUZZ_REQUIRE(packet.size() == payload.size() + 3);
    std::string traced;
    tlk_i_encodePacket(std::string(payload), traced);
    FUZZ_REQUIRE(traced == packet);

    std::string decoded;
    const bool accepted = tlk_i_decodePacket(packet, decoded);
    const std::size_t field = packet.size() % 100;
    const bool takes = packet.size() >= 4 && field >= 3 && field <= 20;
    FUZZ_REQUIRE(accepted == takes);
    if (accepted) {
        FUZZ_REQUIRE(decoded == payload.substr(0, field - 3));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    plat::seams().consoleOut = [](std::string_view) {};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    decodeReceived(bytes);
    frameOnExactBuffer(data, size);
    roundTrip(bytes.substr(0, 300));
    return 0;
}
