// The real boardmon against a board, and an operator, that misbehave: floods, trickles, resets,
// silence, odd bytes, over-long lines, closed or broken standard streams. Every run must end by
// the program's own rules (exit status 0 after a fatal stop, 217 after an error nothing handles),
// never by a signal and never by hanging.
#include "harness.hpp"
#include "transcript.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using e2e::Arrangement;
using e2e::Board;
using e2e::L;
using e2e::Outcome;
using e2e::Stdin;
using e2e::Stdout;
namespace t = e2e::tr;

// How far past its time-outs a run may go before it counts as hanging.
constexpr double kHangGuardSeconds = 10;

Outcome monitor(const Arrangement& how) {
    return e2e::runArranged(e2e::monitorCommand(), how);
}

Outcome monitor(const std::string& input) {
    Arrangement how;
    how.input = input;
    return monitor(how);
}

void expectOrderlyEnd(const Outcome& r, int status) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, status);
    EXPECT_LT(r.seconds, kHangGuardSeconds);
}

// How many bytes a receive takes in each read depends on the network, so the read reports of
// one receive are folded into one line "  <read>" and their byte counts summed.
struct Folded {
    std::string text;
    std::vector<long> reads; // the bytes of each folded run of reads, in order
};

Folded fold(const std::string& out) {
    Folded f;
    bool inRun = false;
    std::size_t pos = 0;
    while (pos < out.size()) {
        std::size_t end = out.find("\r\n", pos);
        end = end == std::string::npos ? out.size() : end + 2;
        const std::string line = out.substr(pos, end - pos);
        pos = end;
        const bool canRead = line == L("  HR_CanRead: ");
        const bool readCount = line.rfind("  HR_ReadCount: ", 0) == 0;
        if (!canRead && !readCount) {
            inRun = false;
            f.text += line;
            continue;
        }
        if (!inRun) {
            f.text += L("  <read>");
            f.reads.push_back(0);
            inRun = true;
        }
        if (readCount) {
            f.reads.back() += std::stol(line.substr(16));
        }
    }
    return f;
}

// The switch query sent, with the socket's report of the send.
std::string switchRequest(const std::string& sendReport) {
    return L("@isSwitchOn") + L("@tlk_sendStr: s=1") + L("@tlk_i_encodePacket: s=1") +
           L("tlk_i_computeChecksum: ") + L("@tlk_i_getPacketLen") + L(" returning len as 4") +
           L("  cksum=53/5") + L("@tlk_i_xmitPacket: packet=5041") + L(sendReport);
}

// The lines after a receive that gave nothing.
std::string emptyPacketRefused() {
    return L("@tlk_i_decode4Packet: packet=") + L("  length packet < 4") +
           L("  decodePacket returned false to getstr") + L("tlk_getStr returned false");
}

std::string tooLong() {
    return L("  HR_Error: 10040,Message too long") + L("  HR_Error: 10040,Message too long") +
           L("  HR_Error: 10040,Message too long") + emptyPacketRefused();
}

std::string switchQuery() {
    return L("@isSwitchOn") + t::send('1') + L("@tlk_getStr") + L("@tlk_i_recvPacket");
}

// --- the board ---

// A board that streams without ever ending a line is cut off at the line bound: the monitor
// keeps no more than the bound and one receive, and stops with 10040.
struct UnendingCase {
    const char* name;
    std::vector<std::string> boardArgs;
};

class UnendingLine : public testing::TestWithParam<UnendingCase> {};

TEST_P(UnendingLine, RefusedAtTheBound) {
    Board board(GetParam().boardArgs);
    const Outcome r = monitor(board.answers());
    expectOrderlyEnd(r, 0);
    const Folded f = fold(r.out);
    EXPECT_EQ(f.text, fold(t::startup(board) + switchQuery() + L("  <read>") + tooLong()).text);
    ASSERT_EQ(f.reads.size(), 1U);
    EXPECT_GT(f.reads[0], 4096);
    EXPECT_LE(f.reads[0], 4096 + 65536);
}

void PrintTo(const UnendingCase& c, std::ostream* os) {
    *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Board, UnendingLine,
    testing::Values(UnendingCase{"flood", {"--cycles", ".", "--fault", "1:flood=4M"}},
                    UnendingCase{"flood_from_accept",
                                 {"--cycles", ".", "--fault", "accept:flood=4M"}},
                    // A valid packet at its head makes no difference.
                    UnendingCase{"line_of_100K", {"--cycles", ".", "--fault", "1:bigline=100K"}},
                    UnendingCase{"one_byte_over", {"--cycles", ".", "--fault", "1:bigline=4097"}}),
    [](const testing::TestParamInfo<UnendingCase>& info) { return std::string(info.param.name); });

TEST(HostileBoard, LineAtTheBoundIsTakenWhole) {
    // "r051F" and filler to 4096 bytes: the decoder reads the length field and ignores the rest.
    Board board({"--cycles", ".", "--once", "--fault", "1:bigline=4096"});
    const Outcome r = monitor(board.answers());
    expectOrderlyEnd(r, 0);
    const std::string line = "r051F" + std::string(4091, 'A');
    const Folded f = fold(r.out);
    EXPECT_EQ(f.text, fold(t::startup(board) + switchQuery() + L("  <read>") + t::decodeGood(line) +
                           L("@isSwitchOn: returns 0") + t::ledOff() + t::closed())
                          .text);
    EXPECT_EQ(f.reads, (std::vector<long>{4098, 6}));
}

TEST(HostileBoard, AnswerTricklingInByteByByteIsAssembled) {
    Board board({"--cycles", ".", "--once", "--fault", "1:trickle=20"});
    const Outcome r = monitor(board.answers());
    expectOrderlyEnd(r, 0);
    const Folded f = fold(r.out);
    EXPECT_EQ(f.text, fold(t::startup(board) + t::isSwitchOn(t::kSwitchOff, false) + t::ledOff() +
                           t::closed())
                          .text);
    EXPECT_EQ(f.reads, (std::vector<long>{7, 6}));
    // Each byte came after a wait of its own.
    std::size_t waits = 0;
    for (std::size_t at = 0; (at = r.out.find("HR_CanRead", at)) != std::string::npos; ++at) {
        ++waits;
    }
    EXPECT_GE(waits, 5U);
}

// The board acknowledges the last request and then streams without end: the close drains no
// more than its bound and the run ends at once.
TEST(HostileBoard, StreamingBoardAtShutdown) {
    Board board({"--cycles", ".", "--fault", "2:raw=0044\\r\\n", "--fault", "2:flood=256M"});
    const Outcome r = monitor(board.answers());
    expectOrderlyEnd(r, 0);
    const Folded f = fold(r.out);
    const std::string ackTaken = t::startup(board) + t::isSwitchOn(t::kSwitchOff, false) +
                                 L("@ledOff") + t::send('4') + L("@tlk_getStr") +
                                 L("@tlk_i_recvPacket") + L("  <read>") + t::decodeGood(t::kAck4);
    const Folded drained = fold(ackTaken + L("  <read>") + t::closed());
    if (f.reads.size() == 3) {
        EXPECT_EQ(f.text, drained.text);
        EXPECT_LE(f.reads[2], 16 * 65536);
    } else {
        // Nothing of the stream was waiting yet when the socket closed.
        EXPECT_EQ(f.text, fold(ackTaken + t::closed()).text);
    }
    ASSERT_GE(f.reads.size(), 2U);
    EXPECT_EQ(f.reads[0], 7);
    EXPECT_GE(f.reads[1], 6);
    EXPECT_LE(f.reads[1], 65536);
}

// Bytes of every value travel and are traced unchanged. "1" NUL 0xFF: the XOR of "06", "1",
// NUL and 0xFF is 0xC8, 0x48 in 7 bits, the checksum "H"; NUL as the second byte reads as off.
TEST(HostileBoard, NulAndHighBytesInAnAnswer) {
    Board board({"--cycles", ".", "--once", "--fault", "1:answer=1\\0\\xff"});
    const Outcome r = monitor(board.answers());
    expectOrderlyEnd(r, 0);
    const std::string packet("H061\0\xff", 6);
    EXPECT_EQ(r.out, t::startup(board) + t::isSwitchOn(packet, false) + t::ledOff() + t::closed());
}

TEST(HostileBoard, BinaryGarbageLineIsRefused) {
    Board board({"--cycles", ".", "--fault", "1:raw=\\x80\\x00\\xff\\xfe\\x01\\r\\n"});
    const Outcome r = monitor(board.answers());
    expectOrderlyEnd(r, 0);
    const std::string garbage("\x80\0\xff\xfe\x01", 5);
    EXPECT_EQ(r.out, t::startup(board) + switchQuery() + L("  HR_CanRead: ") +
                         L("  HR_ReadCount: 7") + L("@tlk_i_decode4Packet: packet=" + garbage) +
                         L("@tlk_i_getPacketLen") + L("  decodePacket returned false to getstr") +
                         L("tlk_getStr returned false"));
}

TEST(HostileBoard, ResetInTheMiddleOfALine) {
    Board board(
        {"--cycles", ".", "--fault", "1:raw=r05", "--fault", "1:delay=200", "--fault", "1:reset"});
    const Outcome r = monitor(board.answers());
    expectOrderlyEnd(r, 0);
    const Folded f = fold(r.out);
    EXPECT_EQ(f.text, fold(t::startup(board) + switchQuery() + L("  <read>") +
                           L("  HR_Error: 10054,Connection reset by peer") +
                           L("  HR_Error: 10054,Connection reset by peer") +
                           L("  HR_Error: 10054,Connection reset by peer") + emptyPacketRefused())
                          .text);
    EXPECT_EQ(f.reads, std::vector<long>{3});
}

TEST(HostileBoard, AcceptsAndClosesAtOnce) {
    Board board({"--cycles", ".", "--fault", "accept:close"});
    const Outcome r = monitor(board.answers());
    expectOrderlyEnd(r, 0);
    EXPECT_EQ(r.out, t::startup(board) + L("@isSwitchOn") + t::send('1') + t::closedByBoard());
}

TEST(HostileBoard, AcceptsAndResetsAtOnce) {
    // Whether the reset overtakes the request decides between a failed send and a failed
    // receive; either way the run ends at the first exchange.
    Board board({"--cycles", ".", "--fault", "accept:reset"});
    const Outcome r = monitor(board.answers());
    expectOrderlyEnd(r, 0);
    EXPECT_EQ(r.out.rfind(t::startup(board) + L("@isSwitchOn"), 0), 0U);
    const std::string tail = L("  HR_Error: 10054,Connection reset by peer") + emptyPacketRefused();
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST(HostileBoard, AcceptsAndNeverAnswers) {
    Board board({"--cycles", ".", "--fault", "1:silent"});
    const Outcome r = monitor(board.answers());
    expectOrderlyEnd(r, 0);
    EXPECT_EQ(r.out, t::startup(board) + L("@isSwitchOn") + t::send('1') + t::timedOut());
    EXPECT_GE(r.seconds, 1.0);
}

// The board sends the answers of a whole cycle at once and closes. The monitor takes them from
// its buffer, sleeps, and its next request meets a closed connection, which answers with a
// reset: the sends that follow fail with 10054 and are reported, the process is not killed by
// SIGPIPE (the child starts with SIGPIPE at its default action).
TEST(HostileBoard, ClosesWhileTheMonitorSends) {
    Board board({"--fault",
                 "1:raw=`051T\\r\\nq052F\\r\\n0044\\r\\n1045\\r\\n`"
                 "051T\\r\\nq052F\\r\\n0044\\r\\n1045\\r\\n",
                 "--fault", "1:close"});
    const Outcome r = monitor(board.answers());
    expectOrderlyEnd(r, 0);
    EXPECT_EQ(r.out.rfind(t::startup(board) + L("@isSwitchOn") + t::send('1') + L("@tlk_getStr") +
                              L("@tlk_i_recvPacket") + L("  HR_CanRead: ") +
                              L("  HR_ReadCount: 52") + t::decodeGood(t::kSwitchOn) +
                              L("@isSwitchOn: returns 1"),
                          0),
              0U)
        << r.out;
    // The third cycle's request goes to a connection reset long before.
    const std::string tail =
        switchRequest("  HR_Error: 10054,Connection reset by peer") + t::closedByBoard();
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
    EXPECT_EQ(r.err, "");
}

// --- the operator ---

TEST(HostileOperator, StdinNotOpenIsAReadErrorReportedWith217) {
    Arrangement how;
    how.in = Stdin::Closed;
    const Outcome r = monitor(how);
    expectOrderlyEnd(r, 217);
    EXPECT_EQ(r.out, "Enter Arduino IP Address: [127.0.0.1]: " +
                         L("Runtime error 217: cannot read standard input: Bad file descriptor"));
}

// End of input at once: both defaults, the port question asked once. What answers on the
// default port is not this test's business, only that the run ends by the rules.
TEST(HostileOperator, StdinFromDevNullTakesTheDefaults) {
    Arrangement how;
    how.in = Stdin::DevNull;
    const Outcome r = monitor(how);
    expectOrderlyEnd(r, 0);
    EXPECT_EQ(r.out.rfind(t::prompts(1) + L("  HR_ResolvingBegin: 127.0.0.1:8888"), 0), 0U)
        << r.out;
}

// Garbage for the address (a NUL makes it unresolvable without any lookup), garbage for the
// port until the input ends and the default is taken; the first exchange then fails on the
// socket that was never created.
TEST(HostileOperator, BinaryGarbage) {
    const std::string address("\x01\x7f\x80\xff\0junk", 9);
    const std::string input = address + "\n" + std::string("\xfe\xfa\x02", 3) + "\r\n" +
                              std::string("\0", 1) + "\n" + "\x9b[31m";
    const Outcome r = monitor(input);
    expectOrderlyEnd(r, 0);
    const std::string target = address + ":8888";
    const std::string notSocket = L("  HR_Error: 10038,Socket operation on non-socket");
    EXPECT_EQ(r.out, t::prompts(4) + L("  HR_ResolvingBegin: " + target) +
                         L("  HR_ResolvingEnd: 0.0.0.0:0") + L("  HR_Error: 11001,Host not found") +
                         L("  HR_Connect: " + target) +
                         L("On exit from initcomm, lasterror=11001") +
                         switchRequest("  HR_Error: 10038,Socket operation on non-socket") +
                         L("@tlk_getStr") + L("@tlk_i_recvPacket") + notSocket + notSocket +
                         notSocket + emptyPacketRefused());
}

TEST(HostileOperator, AnswersOfOneMebibyte) {
    // A port answer of 1 MiB digits is refused by its length and asked again; an address of
    // 1 MiB goes to the socket layer unchanged.
    Board board({"--cycles", ".", "--once"});
    const std::string bigPort(1 << 20, '1');
    const Outcome r = monitor("\n" + bigPort + "\n" + std::to_string(board.port()) + "\n");
    expectOrderlyEnd(r, 0);
    EXPECT_EQ(r.out, t::prompts(2) + t::connected(board.port()) +
                         t::isSwitchOn(t::kSwitchOff, false) + t::ledOff() + t::closed());

    const std::string bigAddress = std::string(1, '\0') + std::string((1 << 20) - 1, 'a');
    const Outcome big = monitor(bigAddress + "\n" + std::to_string(board.port()) + "\n");
    expectOrderlyEnd(big, 0);
    EXPECT_NE(
        big.out.find(L("  HR_ResolvingBegin: " + bigAddress + ":" + std::to_string(board.port()))),
        std::string::npos);
    const std::string tail = L("On exit from initcomm, lasterror=11001");
    EXPECT_NE(big.out.find(tail), std::string::npos);
}

TEST(HostileOperator, Code26EndsTheAnswerWhereverItStands) {
    Board board({"--cycles", ".", "--once"});
    const std::string port = std::to_string(board.port());
    // What follows code 26 is never read, so "99" cannot spoil the port.
    const Outcome r = monitor("\n" + port + "\x1a" + "99\n" + "garbage\n");
    expectOrderlyEnd(r, 0);
    EXPECT_EQ(r.out,
              t::startup(board) + t::isSwitchOn(t::kSwitchOff, false) + t::ledOff() + t::closed());
}

// A caller may hand over its descriptors non-blocking. Input that comes late must be waited
// for, not taken for a read error.
TEST(HostileOperator, NonBlockingStdinWaitsForLateInput) {
    Board board({"--cycles", ".", "--once"});
    Arrangement how;
    how.input = board.answers();
    how.nonBlocking = true;
    how.inputAfter = std::chrono::milliseconds(300);
    const Outcome r = monitor(how);
    expectOrderlyEnd(r, 0);
    EXPECT_EQ(r.out,
              t::startup(board) + t::isSwitchOn(t::kSwitchOff, false) + t::ledOff() + t::closed());
}

// ... and a reader slow to empty a full pipe must be waited for, not taken for a write error.
// The address line alone is three times what a pipe holds.
TEST(HostileOperator, NonBlockingStdoutWaitsForASlowReader) {
    const std::string address = std::string(1, '\0') + std::string(200000, 'a');
    Arrangement how;
    how.input = address + "\n9\n";
    how.nonBlocking = true;
    how.readAfter = std::chrono::milliseconds(300);
    const Outcome r = monitor(how);
    expectOrderlyEnd(r, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind(t::prompts(1) + L("  HR_ResolvingBegin: " + address + ":9"), 0), 0U);
    const std::string tail = emptyPacketRefused();
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

// Standard output unusable from the start: the first prompt fails, and the report goes to
// standard error.
struct BrokenStdout {
    const char* name;
    Stdout out;
    std::string reason;
};

class StdoutUnusable : public testing::TestWithParam<BrokenStdout> {};

TEST_P(StdoutUnusable, EndsWith217ReportedOnStderr) {
    Arrangement how;
    how.input = "\n8888\n";
    how.out = GetParam().out;
    const Outcome r = monitor(how);
    expectOrderlyEnd(r, 217);
    EXPECT_EQ(r.err,
              "Runtime error 217: cannot write to standard output: " + GetParam().reason + "\n");
}

void PrintTo(const BrokenStdout& c, std::ostream* os) {
    *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Operator, StdoutUnusable,
    testing::Values(BrokenStdout{"not_open", Stdout::Closed, "Bad file descriptor"},
                    BrokenStdout{"reader_gone", Stdout::ReaderGone, "Broken pipe"}),
    [](const testing::TestParamInfo<BrokenStdout>& info) { return std::string(info.param.name); });

// The reader leaves while the monitor waits for an answer that never comes: the time-out's
// status line fails inside the receive, the link's guard cannot write its own line either, and
// the run ends with 217.
TEST(HostileOperator, StdoutReaderLeavesMidRunEndsWith217) {
    Board board({"--cycles", ".", "--fault", "1:silent"});
    Arrangement how;
    how.input = board.answers();
    how.out = Stdout::ReaderLeaves;
    how.leaveAfter = L("@tlk_i_recvPacket");
    const Outcome r = monitor(how);
    expectOrderlyEnd(r, 217);
    EXPECT_EQ(r.err, "Runtime error 217: cannot write to standard output: Broken pipe\n");
}

} // namespace
