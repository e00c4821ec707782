#include "errors.hpp"
#include "link/frame.hpp"
#include "scenario.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace boardsim {
namespace {

std::string letters(const std::vector<Cycle>& cycles) {
    std::string s;
    for (const Cycle c : cycles) {
        s += static_cast<char>(c);
    }
    return s;
}

class TempFile {
public:
    explicit TempFile(const std::string& content) {
        char name[] = "/tmp/boardsim_cycles_XXXXXX";
        const int fd = ::mkstemp(name);
        EXPECT_GE(fd, 0);
        ::close(fd);
        path_ = name;
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

TEST(ParseCycles, ReadsLettersAndSkipsWhitespace) {
    EXPECT_EQ(letters(parseCycles("oMMo.")), "oMMo.");
    EXPECT_EQ(letters(parseCycles(" o M\t.\n M ")), "oM.M");
    EXPECT_EQ(letters(parseCycles("")), "");
    EXPECT_EQ(letters(parseCycles(kDefaultCycles)), "oMMo.");
}

TEST(ParseCycles, RejectsOtherLetters) {
    for (const std::string bad : {"x", "oMm", "O", "o,M", "0", "#"}) {
        EXPECT_THROW(parseCycles(bad), UsageError) << bad;
    }
}

TEST(LoadCyclesFile, DropsCommentsAndWhitespace) {
    const TempFile f("# morning round\no o M   # someone walks by\n\n. # lights out\nM");
    EXPECT_EQ(letters(loadCyclesFile(f.path())), "ooM.M");
}

TEST(LoadCyclesFile, NamesTheFileOnABadLetter) {
    const TempFile f("oo\nx\n");
    try {
        loadCyclesFile(f.path());
        FAIL() << "a bad letter was accepted";
    } catch (const UsageError& e) {
        EXPECT_NE(std::string(e.what()).find(f.path()), std::string::npos) << e.what();
    }
}

TEST(LoadCyclesFile, MissingFileIsARuntimeFailure) {
    EXPECT_THROW(loadCyclesFile("/nonexistent/boardsim/cycles.txt"), RuntimeFailure);
}

// A packet whose checksum byte is right for the bytes the length field covers (or all bytes
// when that is past the end), so only the length rules can reject it.
std::string summed(std::string body) {
    const int len = frame::lengthField(body);
    body[0] = static_cast<char>(frame::checksum(body, len));
    return body;
}

struct DecodeCase {
    std::string packet;
    std::optional<std::string> payload;
};

TEST(DecodeRequest, AcceptsOnlyWellFormedPackets) {
    const std::vector<DecodeCase> cases = {
        {"5041", "1"},
        {"6042", "2"},
        {"7043", "3"},
        {"0044", "4"},
        {"1045", "5"},
        {"5041junk", "1"},                // bytes past the length field are not looked at
        {"#03x", ""},                     // empty payload, still four bytes received
        {"#03", std::nullopt},            // shorter than four bytes
        {"", std::nullopt},               //
        {"4041", std::nullopt},           // checksum off by one
        {"5a41", std::nullopt},           // length field not digits
        {summed("?02xy"), std::nullopt},  // length below 3
        {summed("?09xyz"), std::nullopt}, // length past the bytes received
        {summed("?21" + std::string(18, 'a')), std::nullopt}, // length above 20
        {summed("?20" + std::string(17, 'a')), std::string(17, 'a')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeRequest(c.packet), c.payload) << c.packet;
    }
}

TEST(Board, SwitchFollowsCyclesAndMotionFollowsTheLatestSwitchQuery) {
    Board board(parseCycles("oM."));
    // Request, answer: motion before any switch query, then each cycle, then off for good.
    const std::vector<std::pair<std::string, std::string>> script = {
        {"2", "2F"}, {"1", "1T"}, {"2", "2F"}, {"2", "2F"}, {"1", "1T"}, {"2", "2T"},
        {"2", "2T"}, {"1", "1F"}, {"2", "2F"}, {"1", "1F"}, {"1", "1F"}, {"2", "2F"},
    };
    for (std::size_t i = 0; i < script.size(); ++i) {
        EXPECT_EQ(board.answer(script[i].first), script[i].second) << "step " << i;
    }
}

TEST(Board, MotionWithTheSwitchOffIsNotReported) {
    Board board(parseCycles("M.M"));
    EXPECT_EQ(board.answer("1"), "1T");
    EXPECT_EQ(board.answer("2"), "2T");
    EXPECT_EQ(board.answer("1"), "1F");
    EXPECT_EQ(board.answer("2"), "2F");
    EXPECT_EQ(board.answer("1"), "1T");
    EXPECT_EQ(board.answer("2"), "2T");
}

TEST(Board, EchoesLedAndKeepAliveAndIgnoresUnknownCodes) {
    Board board(parseCycles("o"));
    EXPECT_EQ(board.answer("3"), "3");
    EXPECT_EQ(board.answer("4"), "4");
    EXPECT_EQ(board.answer("5"), "5");
    for (const std::string unknown : {"", "0", "6", "11", "1 ", "T", "33"}) {
        EXPECT_EQ(board.answer(unknown), std::nullopt) << unknown;
    }
    // None of those touched the switch sequence.
    EXPECT_EQ(board.answer("1"), "1T");
    EXPECT_EQ(board.answer("1"), "1F");
}

} // namespace
} // namespace boardsim
