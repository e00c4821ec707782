#include "errors.hpp"
#include "options.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace boardsim {
namespace {

using Args = std::vector<std::string>;

std::string letters(const std::vector<Cycle>& cycles) {
    std::string s;
    for (const Cycle c : cycles) {
        s += static_cast<char>(c);
    }
    return s;
}

TEST(ParseArgs, DefaultsServeTheUsualBoard) {
    const Options o = parseArgs({});
    EXPECT_EQ(o.mode, Options::Mode::Serve);
    EXPECT_EQ(o.listen.text(), "127.0.0.1:8888");
    EXPECT_EQ(letters(o.cycles), "oMMo.");
    EXPECT_TRUE(o.faults.empty());
    EXPECT_EQ(o.answerDelayMs, 0U);
    EXPECT_EQ(o.logPath, "-");
    EXPECT_FALSE(o.once);
}

struct GoodCase {
    Args args;
    std::function<void(const Options&)> check;
};

TEST(ParseArgs, AcceptsEveryOptionInBothSpellings) {
    const std::vector<GoodCase> cases = {
        {{"--listen", "127.0.0.1:0"},
         [](const Options& o) {
             EXPECT_EQ(o.listen, (Endpoint{"127.0.0.1", 0, false}));
         }},
        {{"--listen=0.0.0.0:9000"},
         [](const Options& o) {
             EXPECT_EQ(o.listen, (Endpoint{"0.0.0.0", 9000, false}));
         }},
        {{"--listen", "[::1]:0"},
         [](const Options& o) {
             EXPECT_EQ(o.listen, (Endpoint{"::1", 0, true}));
         }},
        {{"--cycles", "o M ."}, [](const Options& o) { EXPECT_EQ(letters(o.cycles), "oM."); }},
        {{"--cycles="}, [](const Options& o) { EXPECT_EQ(letters(o.cycles), ""); }},
        {{"--fault", "1:close", "--fault=2:answer=1t", "--fault", "2:lf"},
         [](const Options& o) {
             EXPECT_EQ(o.faults.at(1).size(), 1U);
             ASSERT_EQ(o.faults.at(2).size(), 2U);
             EXPECT_EQ(o.faults.at(2)[0].text, "1t");
             EXPECT_EQ(o.faults.at(2)[1].kind, Action::Kind::Lf);
         }},
        {{"--answer-delay", "50"}, [](const Options& o) { EXPECT_EQ(o.answerDelayMs, 50U); }},
        {{"--log", "/tmp/x.log", "--once"},
         [](const Options& o) {
             EXPECT_EQ(o.logPath, "/tmp/x.log");
             EXPECT_TRUE(o.once);
         }},
        {{"--listen", "127.0.0.1:1", "--listen", "127.0.0.1:2"},
         [](const Options& o) { EXPECT_EQ(o.listen.port, 2); }},
        {{"--write-alarm", "/tmp/a/alarm.wav"},
         [](const Options& o) {
             EXPECT_EQ(o.mode, Options::Mode::WriteAlarm);
             EXPECT_EQ(o.alarmPath, "/tmp/a/alarm.wav");
         }},
        {{"--once", "--help", "--bogus"},
         [](const Options& o) { EXPECT_EQ(o.mode, Options::Mode::Help); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        c.check(parseArgs(c.args));
    }
}

TEST(ParseArgs, RejectsBadCommandLines) {
    const std::vector<Args> bad = {
        {"--bogus"},
        {"-x"},
        {"stray"},
        {"--listen"},
        {"--listen", "127.0.0.1"},
        {"--listen", "127.0.0.1:"},
        {"--listen", "127.0.0.1:65536"},
        {"--listen", "127.0.0.1:http"},
        {"--listen", "localhost:80"},
        {"--listen", ":80"},
        {"--listen", "::1:80"},
        {"--listen", "[::1]80"},
        {"--listen", "[::1"},
        {"--listen", "[1.2.3.4]:80"},
        {"--cycles", "oMx"},
        {"--fault", "0:close"},
        {"--fault", "1:explode"},
        {"--fault"},
        {"--log", ""},
        {"--answer-delay"},
        {"--answer-delay", "-5"},
        {"--answer-delay", "0.5"},
        {"--once=yes"},
        {"--write-alarm"},
        {"--write-alarm", "/tmp/a.wav", "--once"},
        {"--listen", "127.0.0.1:0", "--write-alarm", "/tmp/a.wav"},
    };
    for (const auto& args : bad) {
        EXPECT_THROW(parseArgs(args), UsageError) << ::testing::PrintToString(args);
    }
}

TEST(ParseArgs, ReadsCyclesFromAFile) {
    char name[] = "/tmp/boardsim_opts_XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::ofstream(name) << "# a quiet start\n. . o\nM # motion\n";
    const Options o = parseArgs({"--cycles", std::string("@") + name});
    std::remove(name);
    EXPECT_EQ(letters(o.cycles), "..oM");
}

TEST(ParseArgs, UnreadableCyclesFileIsARuntimeFailure) {
    EXPECT_THROW(parseArgs({"--cycles", "@/nonexistent/boardsim.cycles"}), RuntimeFailure);
}

TEST(Endpoint, PrintsIpv6InBrackets) {
    EXPECT_EQ(parseEndpoint("[::1]:8888").text(), "[::1]:8888");
    EXPECT_EQ(parseEndpoint("[::]:0").text(), "[::]:0");
    EXPECT_EQ(parseEndpoint("10.0.0.7:65535").text(), "10.0.0.7:65535");
}

TEST(Usage, NamesEveryOption) {
    const std::string text = usageText();
    for (const char* option :
         {"--listen", "--cycles", "--fault", "--log", "--once", "--write-alarm", "--help"}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
    }
}

} // namespace
} // namespace boardsim
