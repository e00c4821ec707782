#include "transport.hpp"

#include "packet.hpp"
#include "platform/platform.hpp"

TTCPBlockSocket* tcp = nullptr;

void tlk_sendStr(const std::string& s) {
    plat::conWriteLine("@tlk_sendStr: s=" + s);
    std::string packet;
    tlk_i_encodePacket(s, packet);
    tlk_i_xmitPacket(packet);
}

void tlk_i_xmitPacket(const std::string& packet) {
    plat::conWriteLine("@tlk_i_xmitPacket: packet=" + packet);
    const std::string line = packet + "\r\n";
    try {
        tcp->SendString(line);
    } catch (...) {
        plat::fatalStop("@tlk_i_xmitPacket: SendString Failed. LastError=" +
                        std::to_string(tcp->LastError));
    }
}

bool tlk_getStr(std::string& s) {
    plat::conWriteLine("@tlk_getStr");
    s.clear();
    std::string packet;
    if (!tlk_i_recvPacket(packet)) {
        plat::conWriteLine("  rcvpacket returned error to getstr");
        return false;
    }
    if (!tlk_i_decodePacket(packet, s)) {
        plat::conWriteLine("  decodePacket returned false to getstr");
        return false;
    }
    return true;
}

bool tlk_i_recvPacket(std::string& packet) {
    plat::conWriteLine("@tlk_i_recvPacket");
    std::string received;
    try {
        received = tcp->RecvString(kRecvTimeoutMs);
    } catch (...) {
        plat::fatalStop("@tlk_i_recvPacket: recvString error. LastError=" +
                        std::to_string(tcp->LastError));
    }
    packet = std::move(received);
    return true;
}
