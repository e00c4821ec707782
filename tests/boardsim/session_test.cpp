// The exchange with one monitor, driven without a network: every answer below is written out by
// hand from the packet rules (checksum = XOR of the length digits and payload, lifted to 32..127).
#include "event_log.hpp"
#include "faults.hpp"
#include "scenario.hpp"
#include "session.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace boardsim {
namespace {

// Records what the session did to the connection, in order.
class FakeLink final : public Link {
public:
    std::vector<std::string> events;
    std::vector<std::string> sends;
    // Sends after this many succeed fail as if the monitor had gone.
    std::size_t sendsBeforeFailure = SIZE_MAX;
    IoStatus pauseStatus = IoStatus::Ok;

    IoStatus send(std::string_view bytes) override {
        if (sends.size() >= sendsBeforeFailure) {
            events.push_back("send failed");
            return IoStatus::PeerGone;
        }
        sends.emplace_back(bytes);
        events.push_back("send " + std::string(bytes));
        return IoStatus::Ok;
    }
    IoStatus pause(std::uint64_t ms) override {
        events.push_back("pause " + std::to_string(ms));
        return pauseStatus;
    }
    void closeOrderly() override { events.push_back("close"); }
    void abort() override { events.push_back("abort"); }
    std::string lastError() const override { return "send: Broken pipe"; }
};

class SessionTest : public ::testing::Test {
protected:
    Session& start(const std::vector<std::string>& faults, std::string_view cycles = "oM.") {
        for (const auto& f : faults) {
            plan.add(parseFault(f));
        }
        session.emplace(parseCycles(cycles), plan, log, link);
        return *session;
    }

    FaultPlan plan;
    std::vector<std::string> lines;
    EventLog log{[this](std::string_view line) { lines.emplace_back(line); }};
    FakeLink link;
    std::optional<Session> session;
};

TEST_F(SessionTest, AnswersEachRequestAndLogsBothDirections) {
    Session& s = start({});
    EXPECT_TRUE(s.open());
    EXPECT_TRUE(s.receive("5041\r\n6042\r\n"));
    EXPECT_TRUE(s.receive("5041\r\n6042\r\n7043\r\n0044\r\n1045\r\n"));
    s.peerClosed();
    s.finish();

    EXPECT_EQ(link.sends,
              (std::vector<std::string>{"`051T\r\n", "q052F\r\n", "`051T\r\n", "c052T\r\n",
                                        "7043\r\n", "0044\r\n", "1045\r\n"}));
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  R"(rx "5041\r\n")", R"(tx "`051T\r\n")", R"(rx "6042\r\n")", R"(tx "q052F\r\n")",
                  R"(rx "5041\r\n")", R"(tx "`051T\r\n")", R"(rx "6042\r\n")", R"(tx "c052T\r\n")",
                  R"(rx "7043\r\n")", R"(tx "7043\r\n")", R"(rx "0044\r\n")", R"(tx "0044\r\n")",
                  R"(rx "1045\r\n")", R"(tx "1045\r\n")", "eof", "close"}));
    EXPECT_EQ(s.requests(), 7U);
    EXPECT_TRUE(s.ended());
}

TEST_F(SessionTest, OnlyCrLfEndsALineWhereverTheBytesAreCut) {
    Session& s = start({});
    for (const char* piece : {"50", "41\r", "\n60", "42", "\r", "\n"}) {
        EXPECT_TRUE(s.receive(piece));
    }
    EXPECT_EQ(link.sends, (std::vector<std::string>{"`051T\r\n", "q052F\r\n"}));

    // A lone LF or CR does not end the line; the packet then carries trailing bytes it does not
    // count, which a board ignores.
    lines.clear();
    EXPECT_TRUE(s.receive("5041\n6042\r7043\r\n"));
    EXPECT_EQ(link.sends.size(), 3U);
    EXPECT_EQ(link.sends.back(), "`051T\r\n");
    EXPECT_EQ(lines.front(), R"(rx "5041\n6042\r7043\r\n")");
}

TEST_F(SessionTest, BadRequestsAreLoggedAndNotAnswered) {
    Session& s = start({});
    EXPECT_TRUE(s.receive("4041\r\n")); // checksum wrong
    EXPECT_TRUE(s.receive("xx\r\n"));   // not a packet
    EXPECT_TRUE(s.receive("1046\r\n")); // unknown code
    EXPECT_TRUE(s.receive("\r\n"));     // empty line
    EXPECT_TRUE(link.sends.empty());
    EXPECT_EQ(lines, (std::vector<std::string>{R"(rx "4041\r\n")", R"(bad-request "4041\r\n")",
                                               R"(rx "xx\r\n")", R"(bad-request "xx\r\n")",
                                               R"(rx "1046\r\n")", R"(bad-request "1046\r\n")",
                                               R"(rx "\r\n")", R"(bad-request "\r\n")"}));
    // They still count as request lines.
    EXPECT_EQ(s.requests(), 4U);
}

TEST_F(SessionTest, LeftoverBytesAreLoggedWhenTheMonitorCloses) {
    Session& s = start({});
    EXPECT_TRUE(s.receive("5041\r\n60\r"));
    s.peerClosed();
    s.finish();
    s.finish();
    EXPECT_EQ(lines, (std::vector<std::string>{R"(rx "5041\r\n")", R"(tx "`051T\r\n")",
                                               R"(rx-partial "60\r")", "eof", "close"}));
    EXPECT_EQ(link.events.back(), "close");
    EXPECT_EQ(link.events.size(), 2U); // one send, one close
}

TEST_F(SessionTest, ScenarioStartsOverForEachConnection) {
    start({}, "M.");
    EXPECT_TRUE(session->receive("5041\r\n5041\r\n"));
    session.emplace(parseCycles("M."), plan, log, link);
    EXPECT_TRUE(session->receive("5041\r\n6042\r\n"));
    EXPECT_EQ(link.sends,
              (std::vector<std::string>{"`051T\r\n", "r051F\r\n", "`051T\r\n", "c052T\r\n"}));
}

struct FaultCase {
    const char* name;
    std::vector<std::string> faults;
    std::string input;
    std::vector<std::string> events; // what reached the link, in order
    bool goesOn = true;              // receive() still wants input afterwards
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class FaultTable : public SessionTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTable, ShapesTheAnswer) {
    const FaultCase& c = GetParam();
    Session& s = start(c.faults);
    EXPECT_TRUE(s.open());
    EXPECT_EQ(s.receive(c.input), c.goesOn);
    EXPECT_EQ(link.events, c.events);
}

const FaultCase kFaultCases[] = {
    {"AnswerReplaced", {"1:answer=1t"}, "5041\r\n", {"send @051t\r\n"}},
    {"EmptyAnswer", {"1:answer="}, "5041\r\n", {"send #03\r\n"}},
    {"AnswerToABadRequest", {"1:answer=5"}, "zz\r\n", {"send 1045\r\n"}},
    {"BadSum", {"1:badsum"}, "5041\r\n", {"send a051T\r\n"}},
    {"BadSumOfAReplacedAnswer", {"1:answer=5", "1:badsum"}, "5041\r\n", {"send 2045\r\n"}},
    {"LfOnly", {"1:lf"}, "5041\r\n", {"send `051T\n"}},
    {"CrOnly", {"1:cr"}, "5041\r\n", {"send `051T\r"}},
    {"Split",
     {"1:split=3@20"},
     "5041\r\n",
     {"send `05", "pause 20", "send 1T\r", "pause 20", "send \n"}},
    {"Trickle",
     {"2:trickle=5"},
     "5041\r\n1045\r\n",
     {"send `051T\r\n", "send 1", "pause 5", "send 0", "pause 5", "send 4", "pause 5", "send 5",
      "pause 5", "send \r", "pause 5", "send \n"}},
    {"ExtraLineInTheSameWrite", {"1:extra=c052T"}, "5041\r\n", {"send `051T\r\nc052T\r\n"}},
    {"ExtrasKeepTheirOrder",
     {"1:extra=A", "1:extra=B\\r"},
     "6042\r\n",
     {"send q052F\r\nA\r\nB\r\r\n"}},
    {"ExtraWithoutAnAnswer", {"1:extra=1045"}, "junk\r\n", {"send 1045\r\n"}},
    {"RawReplacesTheAnswer", {"1:raw=1045"}, "5041\r\n", {"send 1045"}},
    {"RawEmptySendsNothing", {"1:raw="}, "5041\r\n", {}},
    {"ActionsRunInOrder",
     {"1:raw=A", "1:delay=10", "1:raw=B"},
     "5041\r\n",
     {"send A", "pause 10", "send B"}},
    {"DelayThenTheAnswer", {"1:delay=40"}, "5041\r\n", {"pause 40", "send `051T\r\n"}},
    {"SilentStillCountsTheRequest",
     {"1:silent"},
     "5041\r\n5041\r\n6042\r\n",
     {"send `051T\r\n", "send c052T\r\n"}},
    {"BadLinesCountForWhen", {"2:answer=3"}, "xx\r\n5041\r\n", {"send 7043\r\n"}},
    {"WhenPastTheLastLineDoesNothing", {"9:close"}, "5041\r\n", {"send `051T\r\n"}},
    {"CloseInsteadOfTheAnswer",
     {"2:close"},
     "5041\r\n6042\r\n5041\r\n",
     {"send `051T\r\n", "close"},
     false},
    {"ResetInsteadOfTheAnswer",
     {"1:delay=5", "1:reset", "1:raw=never"},
     "5041\r\n",
     {"pause 5", "abort"},
     false},
    {"BigLineShorterThanThePacket", {"1:bigline=2"}, "5041\r\n", {"send `051T\r\n"}},
    {"BigLineTakesTheShapedPacket",
     {"1:badsum", "1:lf", "1:bigline=10"},
     "5041\r\n",
     {"send a051TAAAAA\n"}},
    {"AcceptRaw", {"accept:raw=hello\\r\\n"}, "", {"send hello\r\n"}},
    {"AcceptDelayThenAnswers", {"accept:delay=7"}, "1045\r\n", {"pause 7", "send 1045\r\n"}},
};

INSTANTIATE_TEST_SUITE_P(Session, FaultTable, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SessionTest, AnswerDelayComesBeforeEveryRequestsActionsAndAnswer) {
    plan.add(parseFault("2:raw=x"));
    plan.add(parseFault("3:close"));
    session.emplace(parseCycles("o"), plan, log, link, 50);
    EXPECT_TRUE(session->open());
    EXPECT_FALSE(session->receive("5041\r\n5041\r\n5041\r\n"));
    EXPECT_EQ(link.events, (std::vector<std::string>{"pause 50", "send `051T\r\n", "pause 50",
                                                     "send x", "pause 50", "close"}));
}

TEST_F(SessionTest, AcceptCloseEndsTheConnectionBeforeReading) {
    Session& s = start({"accept:close"});
    EXPECT_FALSE(s.open());
    EXPECT_TRUE(s.ended());
    EXPECT_FALSE(s.receive("5041\r\n"));
    EXPECT_EQ(link.events, (std::vector<std::string>{"close"}));
    EXPECT_EQ(lines, (std::vector<std::string>{"close"}));
}

TEST_F(SessionTest, ResetIsLoggedAndNothingFollows) {
    Session& s = start({"2:reset"});
    EXPECT_FALSE(s.receive("5041\r\n6042\r\n7043\r\n"));
    s.finish();
    EXPECT_EQ(lines, (std::vector<std::string>{R"(rx "5041\r\n")", R"(tx "`051T\r\n")",
                                               R"(rx "6042\r\n")", "reset"}));
    EXPECT_EQ(link.events.back(), "abort");
}

TEST_F(SessionTest, FloodStreamsFixedChunksWithoutLineEnds) {
    const std::uint64_t total = 2 * Session::kChunk + 1000;
    Session& s = start({"1:flood=" + std::to_string(total)});
    EXPECT_TRUE(s.receive("5041\r\n"));
    ASSERT_EQ(link.sends.size(), 3U);
    std::uint64_t sent = 0;
    for (const auto& chunk : link.sends) {
        EXPECT_LE(chunk.size(), Session::kChunk);
        EXPECT_EQ(chunk.find_first_of("\r\n"), std::string::npos);
        sent += chunk.size();
    }
    EXPECT_EQ(sent, total);
    EXPECT_EQ(lines.back(), "tx flood " + std::to_string(total) + " bytes");
}

TEST_F(SessionTest, FloodStopsQuietlyWhenTheMonitorGoes) {
    Session& s = start({"1:flood=1G"});
    link.sendsBeforeFailure = 2;
    EXPECT_FALSE(s.receive("5041\r\n6042\r\n"));
    EXPECT_EQ(link.sends.size(), 2U);
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  R"(rx "5041\r\n")", "tx flood " + std::to_string(2 * Session::kChunk) + " bytes",
                  "lost send: Broken pipe", "close"}));
}

TEST_F(SessionTest, BigLineHasTheAnswerFirstAndTheLineEndLast) {
    Session& s = start({"1:bigline=100000", "2:bigline=5000"});
    EXPECT_TRUE(s.receive("5041\r\n6042\r\n"));
    ASSERT_GE(link.sends.size(), 3U);
    std::string first;
    for (std::size_t i = 0; i + 1 < link.sends.size(); ++i) {
        first += link.sends[i];
    }
    EXPECT_EQ(first.size(), 100002U);
    EXPECT_EQ(first.substr(0, 5), "`051T");
    EXPECT_EQ(first.find_first_of("\r\n"), 100000U);
    EXPECT_EQ(first.substr(100000), "\r\n");

    const std::string& second = link.sends.back();
    EXPECT_EQ(second, "q052F" + std::string(4995, 'A') + "\r\n");
    EXPECT_EQ(lines[1], "tx bigline 100002 bytes");
    EXPECT_EQ(lines.back(), "tx bigline 5002 bytes");
}

TEST_F(SessionTest, StopDuringADelayEndsTheConnection) {
    Session& s = start({"1:delay=1000"});
    link.pauseStatus = IoStatus::Stopped;
    EXPECT_FALSE(s.receive("5041\r\n"));
    EXPECT_TRUE(link.sends.empty());
    EXPECT_EQ(lines.back(), "close");
}

TEST_F(SessionTest, FailedAnswerEndsTheConnection) {
    Session& s = start({});
    link.sendsBeforeFailure = 0;
    EXPECT_FALSE(s.receive("5041\r\n6042\r\n"));
    EXPECT_EQ(lines, (std::vector<std::string>{R"(rx "5041\r\n")", R"(tx "`051T\r\n")",
                                               "lost send: Broken pipe", "close"}));
}

} // namespace
} // namespace boardsim
