// Pieces of the monitor's expected output, written out line by line. Every packet and checksum
// here is worked out by hand, never by the code under test.
#pragma once

#include "harness.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace e2e::tr {

// The two prompts, the port prompt `portPrompts` times.
inline std::string prompts(int portPrompts = 1) {
    std::string s = "Enter Arduino IP Address: [127.0.0.1]: ";
    for (int i = 0; i < portPrompts; ++i) {
        s += "Enter the Arduino's TCP port[8888]: ";
    }
    return s;
}

// The status lines of a successful connection and start-up's last line.
inline std::string connected(const std::string& address, const std::string& portText,
                             const std::string& resolved) {
    return L("  HR_ResolvingBegin: " + address + ":" + portText) +
           L("  HR_ResolvingEnd: " + resolved) + L("  HR_SocketCreate: IPv4") +
           L("  HR_Connect: " + address + ":" + portText) + L("On exit from initcomm, lasterror=0");
}

inline std::string connected(int port) {
    const std::string p = std::to_string(port);
    return connected("127.0.0.1", p, "127.0.0.1:" + p);
}

// Start-up of a run whose answers were board.answers().
inline std::string startup(const Board& board) {
    return prompts() + connected(board.port());
}

// Sending a one-character request, with its checksum line and packet.
inline std::string send(char code) {
    struct Req {
        char code;
        const char* cksum;
        const char* packet;
    };
    static const Req kReqs[] = {{'1', "53/5", "5041"},
                                {'2', "54/6", "6042"},
                                {'3', "55/7", "7043"},
                                {'4', "48/0", "0044"},
                                {'5', "49/1", "1045"}};
    for (const Req& r : kReqs) {
        if (r.code == code) {
            const std::string c(1, code);
            return L("@tlk_sendStr: s=" + c) + L("@tlk_i_encodePacket: s=" + c) +
                   L("tlk_i_computeChecksum: ") + L("@tlk_i_getPacketLen") +
                   L(" returning len as 4") + L(std::string("  cksum=") + r.cksum) +
                   L(std::string("@tlk_i_xmitPacket: packet=") + r.packet) +
                   L("  HR_WriteCount: 6");
        }
    }
    return "no such request";
}

// The decoder's lines for a packet whose length field is valid and matches (checksum line from
// the packet's own first byte, which the test states by hand).
inline std::string decodeGood(const std::string& packet) {
    const std::string len = std::to_string((packet[1] - '0') * 10 + (packet[2] - '0'));
    std::string ck = "  cksum=" + std::to_string(static_cast<unsigned char>(packet[0])) + "/";
    ck += packet[0];
    return L("@tlk_i_decode4Packet: packet=" + packet) + L("@tlk_i_getPacketLen") +
           L(" returning len as " + len) + L("tlk_i_computeChecksum: ") + L("@tlk_i_getPacketLen") +
           L(" returning len as " + len) + L(ck);
}

// Receiving an answer that arrives in reads of the given sizes after a wait each.
inline std::string receive(const std::string& packet, const std::vector<int>& reads) {
    std::string s = L("@tlk_getStr") + L("@tlk_i_recvPacket");
    for (int n : reads) {
        s += L("  HR_CanRead: ") + L("  HR_ReadCount: " + std::to_string(n));
    }
    return s + decodeGood(packet);
}

// Receiving an answer that arrives in one piece.
inline std::string receive(const std::string& packet) {
    return receive(packet, {static_cast<int>(packet.size()) + 2});
}

// The answer packets of the firmware.
inline const std::string kSwitchOn = "`051T";
inline const std::string kSwitchOff = "r051F";
inline const std::string kMotion = "c052T";
inline const std::string kNoMotion = "q052F";
inline const std::string kAck3 = "7043";
inline const std::string kAck4 = "0044";
inline const std::string kAck5 = "1045";

inline std::string isSwitchOn(const std::string& answer, bool result) {
    return L("@isSwitchOn") + send('1') + receive(answer) +
           L(std::string("@isSwitchOn: returns ") + (result ? "1" : "0"));
}

inline std::string isMotionDetected(const std::string& answer, bool result) {
    return L("@isMotionDetected") + send('2') + receive(answer) +
           L(std::string("@isMotionDetected: returns ") + (result ? "1" : "0"));
}

inline std::string ledOn() {
    return L("@ledOn") + send('3') + receive(kAck3);
}
inline std::string ledOff() {
    return L("@ledOff") + send('4') + receive(kAck4);
}
inline std::string alive() {
    return L("@sendAliveMsg") + send('5') + receive(kAck5);
}

// The two reports of closing and freeing the socket.
inline std::string closed() {
    return L("  HR_SocketClose: ") + L("  HR_SocketClose: ");
}

// A receive that got nothing: the time-out (10060) or closed (10054) lines and the decoder's
// refusal, then the command's message.
inline std::string timedOut() {
    return L("@tlk_getStr") + L("@tlk_i_recvPacket") + L("  HR_Error: 10060,Connection timed out") +
           L("  HR_Error: 10060,Connection timed out") + L("@tlk_i_decode4Packet: packet=") +
           L("  length packet < 4") + L("  decodePacket returned false to getstr") +
           L("tlk_getStr returned false");
}

inline std::string closedByBoard() {
    return L("@tlk_getStr") + L("@tlk_i_recvPacket") + L("  HR_CanRead: ") +
           L("  HR_Error: 10054,Connection reset by peer") +
           L("  HR_Error: 10054,Connection reset by peer") + L("@tlk_i_decode4Packet: packet=") +
           L("  length packet < 4") + L("  decodePacket returned false to getstr") +
           L("tlk_getStr returned false");
}

// The alarm's first call arms its throttle with one clock reading and compares a second reading
// against it. The two nearly always fall in the same millisecond, and nothing plays; if the
// clock ticks between them, that call plays at once and the next one, a second later, is held
// back. Both are correct. The transcript in that second form, from one written in the first:
inline std::string clockTickedWhileArming(std::string expected) {
    const std::string call = L("@playSound");
    const std::string armed = call + L("  initializing");
    const std::string plays = L("  ok to play the sound");
    const std::size_t first = expected.find(armed);
    if (first == std::string::npos) {
        return expected;
    }
    expected.insert(first + armed.size(), plays);
    const std::size_t next = expected.find(call + plays, first + armed.size() + plays.size());
    if (next != std::string::npos) {
        expected.erase(next + call.size(), plays.size());
    }
    return expected;
}

// Output of a run with alarm calls, compared byte for byte with either form.
inline void expectAlarmTranscript(const std::string& out, const std::string& expected) {
    if (out != clockTickedWhileArming(expected)) {
        EXPECT_EQ(out, expected);
    }
}

} // namespace e2e::tr
