// The packet link and the device commands over a real connection to the simulated board.
#include "harness.hpp"
#include "transcript.hpp"

#include <gtest/gtest.h>

namespace {

using namespace e2e;
namespace t = e2e::tr;

struct LinkCase {
    const char* name;
    std::vector<std::string> boardArgs;
    std::string afterStartup; // expected output after start-up's last line
};

void PrintTo(const LinkCase& c, std::ostream* os) {
    *os << c.name;
}

class LinkCases : public testing::TestWithParam<LinkCase> {};

TEST_P(LinkCases, TranscriptMatches) {
    const LinkCase& c = GetParam();
    Board board(c.boardArgs);
    const Outcome run = runMonitor(board.answers());
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0);
    t::expectAlarmTranscript(run.out, t::startup(board) + c.afterStartup);
}

std::string switchQueryAnswered(const std::string& answerLines) {
    return L("@isSwitchOn") + t::send('1') + answerLines;
}

INSTANTIATE_TEST_SUITE_P(
    Exchanges, LinkCases,
    testing::Values(
        // An answer in segments of 2 bytes, 150 ms apart: one wait and one read per segment.
        LinkCase{"split",
                 {"--cycles", ".", "--once", "--fault", "1:split=2@150"},
                 L("@isSwitchOn") + t::send('1') + t::receive(t::kSwitchOff, {2, 2, 2, 1}) +
                     L("@isSwitchOn: returns 0") + t::ledOff() + t::closed()},
        // Two answers in one segment: the second is served from the buffer without a wait.
        LinkCase{"two answers together",
                 {"--cycles", "M.", "--once", "--fault", "1:extra=c052T", "--fault", "2:silent"},
                 L("@isSwitchOn") + t::send('1') + t::receive(t::kSwitchOn, {14}) +
                     L("@isSwitchOn: returns 1") + L("@isMotionDetected") + t::send('2') +
                     L("@tlk_getStr") + L("@tlk_i_recvPacket") + t::decodeGood(t::kMotion) +
                     L("@isMotionDetected: returns 1") + t::ledOn() + L("@playSound") +
                     L("  initializing") + t::alive() + t::isSwitchOn(t::kSwitchOff, false) +
                     t::ledOff() + t::closed()},
        // A bare CR LF is an empty packet at once.
        LinkCase{"bare crlf",
                 {"--cycles", ".", "--once", "--fault", "1:raw=\\r\\n"},
                 switchQueryAnswered(L("@tlk_getStr") + L("@tlk_i_recvPacket") +
                                     L("  HR_CanRead: ") + L("  HR_ReadCount: 2") +
                                     L("@tlk_i_decode4Packet: packet=") + L("  length packet < 4") +
                                     L("  decodePacket returned false to getstr") +
                                     L("tlk_getStr returned false"))},
        // The board closes instead of answering: no wait for the time-out.
        LinkCase{"closed",
                 {"--cycles", ".", "--fault", "1:close"},
                 switchQueryAnswered(t::closedByBoard())},
        LinkCase{
            "bad code",
            {"--cycles", ".", "--once", "--fault", "1:answer=2T"},
            switchQueryAnswered(t::receive(t::kMotion) + L("isSwitchOn received bad response"))},
        // A one-character query answer reads as false: the switch is off.
        LinkCase{"one character",
                 {"--cycles", "o", "--once", "--fault", "1:answer=1"},
                 switchQueryAnswered(t::receive("5041") + L("@isSwitchOn: returns 0")) +
                     t::ledOff() + t::closed()},
        LinkCase{"lower-case t",
                 {"--cycles", ".", "--once", "--fault", "1:answer=1t"},
                 switchQueryAnswered(t::receive("@051t") + L("@isSwitchOn: returns 1")) +
                     t::isMotionDetected(t::kNoMotion, false) + t::ledOff() + t::alive() +
                     t::isSwitchOn(t::kSwitchOff, false) + t::ledOff() + t::closed()},
        // Checksum byte wrong: refused after the checksum line that shows the expected value.
        LinkCase{
            "bad checksum",
            {"--cycles", ".", "--once", "--fault", "1:raw=s051F\\r\\n"},
            switchQueryAnswered(
                L("@tlk_getStr") + L("@tlk_i_recvPacket") + L("  HR_CanRead: ") +
                L("  HR_ReadCount: 7") + L("@tlk_i_decode4Packet: packet=s051F") +
                L("@tlk_i_getPacketLen") + L(" returning len as 5") + L("tlk_i_computeChecksum: ") +
                L("@tlk_i_getPacketLen") + L(" returning len as 5") + L("  cksum=114/r") +
                L("  decodePacket returned false to getstr") + L("tlk_getStr returned false"))},
        // A length field beyond the bytes received is refused before anything is summed.
        LinkCase{"length beyond packet",
                 {"--cycles", ".", "--once", "--fault", "1:raw=r201F\\r\\n"},
                 switchQueryAnswered(L("@tlk_getStr") + L("@tlk_i_recvPacket") +
                                     L("  HR_CanRead: ") + L("  HR_ReadCount: 7") +
                                     L("@tlk_i_decode4Packet: packet=r201F") +
                                     L("@tlk_i_getPacketLen") + L(" returning len as 20") +
                                     L("  length field beyond packet") +
                                     L("  decodePacket returned false to getstr") +
                                     L("tlk_getStr returned false"))},
        // An empty payload is a valid packet but no answer to any command; a packet of the
        // three framing bytes alone is too short to be one.
        LinkCase{"empty payload",
                 {"--cycles", ".", "--once", "--fault", "1:raw=#03X\r\n"},
                 switchQueryAnswered(t::receive("#03X") + L("isSwitchOn received bad response"))},
        LinkCase{"framing only",
                 {"--cycles", ".", "--once", "--fault", "1:answer="},
                 switchQueryAnswered(
                     L("@tlk_getStr") + L("@tlk_i_recvPacket") + L("  HR_CanRead: ") +
                     L("  HR_ReadCount: 5") + L("@tlk_i_decode4Packet: packet=#03") +
                     L("  length packet < 4") + L("  decodePacket returned false to getstr") +
                     L("tlk_getStr returned false"))}),
    [](const testing::TestParamInfo<LinkCase>& info) {
        std::string n = info.param.name;
        for (char& c : n) {
            if (!std::isalnum(static_cast<unsigned char>(c))) {
                c = '_';
            }
        }
        return n;
    });

// The two cases that wait for the receive time-out share one test, so the suite pays the
// 1000 ms twice and no more.
TEST(LinkTimeouts, NoLineEndWithinOneSecondFails) {
    {
        Board board({"--cycles", ".", "--fault", "1:silent"});
        const Outcome run = runMonitor(board.answers());
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, t::startup(board) + L("@isSwitchOn") + t::send('1') + t::timedOut());
        EXPECT_GE(run.seconds, 0.95);
    }
    {
        // LF alone never ends a line.
        Board board({"--cycles", ".", "--fault", "1:lf"});
        const Outcome run = runMonitor(board.answers());
        EXPECT_EQ(run.status, 0);
        const std::string timeout = t::timedOut();
        EXPECT_EQ(run.out, t::startup(board) + L("@isSwitchOn") + t::send('1') + L("@tlk_getStr") +
                               L("@tlk_i_recvPacket") + L("  HR_CanRead: ") +
                               L("  HR_ReadCount: 6") + timeout.substr(timeout.find("  HR_Error")));
    }
}

TEST(LinkWire, RequestsAreExactlyPacketAndCrLf) {
    Board board({"--cycles", ".", "--once"});
    const Outcome run = runMonitor(board.answers());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(board.wait(), 0);
    const std::string log = board.log();
    EXPECT_NE(log.find("rx \"5041\\r\\n\"\n"), std::string::npos) << log;
    EXPECT_NE(log.find("rx \"0044\\r\\n\"\n"), std::string::npos) << log;
    EXPECT_NE(log.find("tx \"r051F\\r\\n\"\n"), std::string::npos) << log;
}

} // namespace
