// The packet frame without any trace: checksum byte, two length digits, payload. Shared by the
// monitor's traced routines and by the simulated board.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace frame {

// The largest length field a received packet may carry, and the smallest.
inline constexpr int kMaxPacketLen = 20;
inline constexpr int kMinPacketLen = 3;

// The two-digit length field at offsets 1 and 2; -1 when either is not an ASCII digit or the
// packet is shorter than 3 bytes.
inline int lengthField(std::string_view packet) {
    if (packet.size() < 3) {
        return -1;
    }
    const auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : -1; };
    const int tens = digit(packet[1]);
    if (tens < 0) {
        return -1;
    }
    const int units = digit(packet[2]);
    if (units < 0) {
        return -1;
    }
    return tens * 10 + units;
}

// XOR of the bytes at offsets 1 .. n-1 (never past the end of packet), reduced to 7 bits and
// lifted to 32..127.
inline std::uint32_t checksum(std::string_view packet, int n) {
    std::uint32_t x = 0;
    const std::size_t end =
        n > 0 ? std::min<std::size_t>(static_cast<std::size_t>(n), packet.size()) : 0;
    for (std::size_t i = 1; i < end; ++i) {
        x ^= static_cast<unsigned char>(packet[i]);
    }
    x &= 127U;
    if (x < 32U) {
        x |= 32U;
    }
    return x;
}

// "000" + payload with the length digits (length modulo 100) filled in; the checksum byte is
// left for the caller.
inline std::string unsummed(std::string_view payload) {
    std::string packet = "000";
    packet.append(payload);
    const std::size_t len = packet.size();
    packet[2] = static_cast<char>('0' + len % 10);
    packet[1] = static_cast<char>('0' + (len / 10) % 10);
    return packet;
}

// The whole packet for a payload.
inline std::string encode(std::string_view payload) {
    std::string packet = unsummed(payload);
    packet[0] = static_cast<char>(checksum(packet, lengthField(packet)));
    return packet;
}

} // namespace frame
