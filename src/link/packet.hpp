// The packet format, with its trace lines.
#pragma once

#include "frame.hpp"

#include <cstdint>
#include <string>

inline constexpr int MAXPACKETLEN = frame::kMaxPacketLen;

// Frames payload s into packet.
void tlk_i_encodePacket(const std::string& s, std::string& packet);
// Checks a received packet (size, length field, checksum) and extracts its payload into s.
// False, with s empty, when the packet is refused.
bool tlk_i_decodePacket(const std::string& packet, std::string& s);
// The checksum of packet as its length field reaches; the byte at offset 0 is not summed.
std::uint32_t tlk_i_computeChecksum(const std::string& packet);
// The length field's value, or -1 when a digit is missing.
std::int32_t tlk_i_getPacketLen(const std::string& packet);
