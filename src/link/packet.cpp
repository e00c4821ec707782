#include "packet.hpp"

#include "platform/platform.hpp"

std::int32_t tlk_i_getPacketLen(const std::string& packet) {
    plat::conWriteLine("@tlk_i_getPacketLen");
    const int len = frame::lengthField(packet);
    if (len < 0) {
        return -1;
    }
    plat::conWriteLine(" returning len as " + std::to_string(len));
    return len;
}

std::uint32_t tlk_i_computeChecksum(const std::string& packet) {
    plat::conWriteLine("tlk_i_computeChecksum: ");
    const std::uint32_t x = frame::checksum(packet, tlk_i_getPacketLen(packet));
    std::string line = "  cksum=" + std::to_string(x) + "/";
    line += static_cast<char>(x);
    plat::conWriteLine(line);
    return x;
}

void tlk_i_encodePacket(const std::string& s, std::string& packet) {
    plat::conWriteLine("@tlk_i_encodePacket: s=" + s);
    std::string built = frame::unsummed(s);
    built[0] = static_cast<char>(tlk_i_computeChecksum(built) & 0xFFU);
    packet = std::move(built);
}

bool tlk_i_decodePacket(const std::string& packet, std::string& s) {
    plat::conWriteLine("@tlk_i_decode4Packet: packet=" + packet);
    s.clear();
    if (packet.size() < 4) {
        plat::conWriteLine("  length packet < 4");
        return false;
    }
    const std::int32_t len = tlk_i_getPacketLen(packet);
    if (len < frame::kMinPacketLen || len > MAXPACKETLEN) {
        return false;
    }
    // The length field is believed only as far as bytes were received.
    if (static_cast<std::size_t>(len) > packet.size()) {
        plat::conWriteLine("  length field beyond packet");
        return false;
    }
    const std::uint32_t x = tlk_i_computeChecksum(packet);
    if (static_cast<unsigned char>(x & 0xFFU) != static_cast<unsigned char>(packet[0])) {
        return false;
    }
    s = packet.substr(3, static_cast<std::size_t>(len) - 3);
    return true;
}
