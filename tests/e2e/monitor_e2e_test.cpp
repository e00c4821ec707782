// Whole runs of the real boardmon against the simulated board, output compared byte for byte.
#include "harness.hpp"
#include "transcript.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

using namespace e2e;
namespace t = e2e::tr;

void expectNormalExit(const Outcome& run) {
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0);
}

// --- start-up ---

TEST(Startup, EmptyAnswersTakeTheDefaultBoard) {
    Board board({"--cycles", ".", "--once"}, "127.0.0.1:8888");
    const Outcome run = runMonitor("");
    expectNormalExit(run);
    EXPECT_EQ(run.out, t::prompts() + t::connected("127.0.0.1", "8888", "127.0.0.1:8888") +
                           t::isSwitchOn(t::kSwitchOff, false) + t::ledOff() + t::closed());
}

TEST(Startup, NothingListeningShowsRefusalAndTheFirstExchangeFails) {
    const std::string port = std::to_string(unusedPort());
    const Outcome run = runMonitor("\n" + port + "\n");
    expectNormalExit(run);
    EXPECT_EQ(run.out,
              t::prompts() + L("  HR_ResolvingBegin: 127.0.0.1:" + port) +
                  L("  HR_ResolvingEnd: 127.0.0.1:" + port) + L("  HR_SocketCreate: IPv4") +
                  L("  HR_Error: 10061,Connection refused") + L("  HR_Connect: 127.0.0.1:" + port) +
                  L("On exit from initcomm, lasterror=10061") + L("@isSwitchOn") +
                  t::send('1').substr(0, t::send('1').find("  HR_WriteCount")) +
                  L("  HR_Error: 10057,Socket is not connected") + L("@tlk_getStr") +
                  L("@tlk_i_recvPacket") + L("  HR_Error: 10057,Socket is not connected") +
                  L("  HR_Error: 10057,Socket is not connected") +
                  L("  HR_Error: 10057,Socket is not connected") +
                  L("@tlk_i_decode4Packet: packet=") + L("  length packet < 4") +
                  L("  decodePacket returned false to getstr") + L("tlk_getStr returned false"));
}

TEST(Startup, RefusedPortAnswersAskAgain) {
    Board board({"--cycles", ".", "--once"});
    const std::string port = std::to_string(board.port());
    const Outcome run = runMonitor("\nabc\n8888 \n- 5\n" + port + "\n");
    expectNormalExit(run);
    EXPECT_EQ(run.out, t::prompts(4) + t::connected(board.port()) +
                           t::isSwitchOn(t::kSwitchOff, false) + t::ledOff() + t::closed());
}

TEST(Startup, PortAndAddressGoToConnectAsTyped) {
    // Prefixes, signs and leading blanks are accepted and shown exactly as typed; a host name
    // resolves to its IPv4 address.
    const auto forms = [](int port) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(port));
        const std::string dec = std::to_string(port);
        return std::vector<std::string>{"$" + std::string(hex), "0x" + std::string(hex), "+" + dec,
                                        " \t" + dec, "000" + dec};
    };
    for (std::size_t i = 0; i < 5; ++i) {
        Board board({"--cycles", ".", "--once"});
        const std::string portText = forms(board.port())[i];
        const std::string resolved = "127.0.0.1:" + std::to_string(board.port());
        const Outcome run = runMonitor("localhost\n" + portText + "\n");
        expectNormalExit(run);
        EXPECT_EQ(run.out, t::prompts() + t::connected("localhost", portText, resolved) +
                               t::isSwitchOn(t::kSwitchOff, false) + t::ledOff() + t::closed())
            << "port text '" << portText << "'";
    }
}

TEST(Startup, UnresolvableAddressReturnsNormallyWithAnError) {
    const Outcome run = runMonitor("no-such-board.invalid\n1\n");
    expectNormalExit(run);
    const std::string head = t::prompts() + L("  HR_ResolvingBegin: no-such-board.invalid:1") +
                             L("  HR_ResolvingEnd: 0.0.0.0:0") + "  HR_Error: 1100";
    ASSERT_EQ(run.out.substr(0, head.size()), head) << run.out;
    EXPECT_NE(run.out.find(L("  HR_Connect: no-such-board.invalid:1") +
                           "On exit from initcomm, lasterror=1100"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("HR_SocketCreate"), std::string::npos);
    // With no socket at all, the first exchange fails at once.
    EXPECT_NE(
        run.out.find(L("  HR_Error: 10038,Socket operation on non-socket") + L("@tlk_getStr")),
        std::string::npos);
    EXPECT_TRUE(run.out.ends_with(L("tlk_getStr returned false")));
}

// --- the monitor loop ---

// The requests the board received, in order, from its log lines `rx "<packet>\r\n"`.
std::string requestCodes(const std::string& log) {
    std::string codes;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("rx \"", 0) == 0 && line.size() >= 8) {
            codes += line[7];
        }
    }
    return codes;
}

TEST(Monitor, SwitchOffAtFirstPollSendsOnlySwitchAndLedOff) {
    Board board({"--cycles", ".", "--once"});
    const Outcome run = runMonitor(board.answers());
    expectNormalExit(run);
    EXPECT_EQ(run.out,
              t::startup(board) + t::isSwitchOn(t::kSwitchOff, false) + t::ledOff() + t::closed());
    EXPECT_EQ(board.wait(), 0);
    EXPECT_EQ(requestCodes(board.log()), "14");
}

TEST(Monitor, MotionCyclesDriveLedAndAlarmThenShutDown) {
    char dir[] = "/tmp/boardmon-player-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string playerLog = std::string(dir) + "/calls";
    Board board({"--cycles", "MMo.", "--once"});
    const Outcome run = runMonitor(
        board.answers(), std::chrono::seconds(30),
        {"PATH=" STANDIN_PLAYER_DIR ":/usr/bin:/bin", "STANDIN_PLAYER_LOG=" + playerLog});
    expectNormalExit(run);
    const std::string motionCycle =
        t::isSwitchOn(t::kSwitchOn, true) + t::isMotionDetected(t::kMotion, true) + t::ledOn();
    t::expectAlarmTranscript(
        run.out, t::startup(board) +
                     // first motion: the throttle is only armed
                     motionCycle + L("@playSound") + L("  initializing") + t::alive() +
                     // a second later the alarm is due
                     motionCycle + L("@playSound") + L("  ok to play the sound") + t::alive() +
                     // no motion: LED off, no alarm
                     t::isSwitchOn(t::kSwitchOn, true) + t::isMotionDetected(t::kNoMotion, false) +
                     t::ledOff() + t::alive() +
                     // switch off
                     t::isSwitchOn(t::kSwitchOff, false) + t::ledOff() + t::closed());
    EXPECT_GE(run.seconds, 3.0); // three pauses of a second
    EXPECT_EQ(board.wait(), 0);
    EXPECT_EQ(requestCodes(board.log()), "1235"
                                         "1235"
                                         "1245"
                                         "14");

    if (!windowsBuild()) {
        // The player runs detached; give it a moment to write its record.
        std::string calls;
        for (int i = 0; i < 200 && calls.empty(); ++i) {
            std::ifstream f(playerLog);
            std::getline(f, calls, '\0');
            usleep(10000);
        }
        EXPECT_EQ(calls, "-q /tmp/klaxon-short.wav\n");
    }
    std::remove(playerLog.c_str());
    rmdir(dir);
}

TEST(Monitor, BoardThatStopsAnsweringEndsTheRunWithoutShutdown) {
    Board board({"--cycles", "M", "--fault", "3:silent"});
    const Outcome run = runMonitor(board.answers());
    expectNormalExit(run);
    EXPECT_EQ(run.out, t::startup(board) + t::isSwitchOn(t::kSwitchOn, true) +
                           t::isMotionDetected(t::kMotion, true) + L("@ledOn") + t::send('3') +
                           t::timedOut());
}

} // namespace
