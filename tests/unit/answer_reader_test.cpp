// How the operator's input is cut into answers.
#include "platform/answer_reader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Serves input in pieces of at most `piece` bytes and counts how often it was asked after the
// end, so a reader that keeps polling a finished input shows up.
struct ScriptedInput {
    std::string data;
    std::size_t piece;
    std::size_t pos = 0;
    int readsAfterEnd = 0;

    std::size_t operator()(char* buf, std::size_t cap) {
        if (pos == data.size()) {
            ++readsAfterEnd;
            return 0;
        }
        const std::size_t n = std::min({cap, piece, data.size() - pos});
        std::copy_n(data.data() + pos, n, buf);
        pos += n;
        return n;
    }
};

struct Row {
    const char* name;
    std::string input;
    std::vector<std::string> answers; // the next answers, in order
};

std::vector<std::string> readAll(const std::string& input, std::size_t piece, std::size_t count,
                                 int* readsAfterEnd = nullptr) {
    ScriptedInput source{input, piece};
    plat::AnswerReader reader([&source](char* b, std::size_t c) { return source(b, c); });
    std::vector<std::string> got;
    for (std::size_t i = 0; i < count; ++i) {
        got.push_back(reader.read());
    }
    if (readsAfterEnd != nullptr) {
        *readsAfterEnd = source.readsAfterEnd;
    }
    return got;
}

class Answers : public testing::TestWithParam<Row> {};

TEST_P(Answers, SplitsAtEveryLineEndWhateverTheChunking) {
    const Row& row = GetParam();
    // One byte at a time, an odd size, and all at once must agree.
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 20}) {
        EXPECT_EQ(readAll(row.input, piece, row.answers.size()), row.answers)
            << row.name << ", pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Answers,
    testing::Values(Row{"lf", "10.0.0.5\n8888\n", {"10.0.0.5", "8888", ""}},
                    Row{"cr", "a\rb\r", {"a", "b", ""}},
                    Row{"crlf is one end", "a\r\nb\r\n", {"a", "b", ""}},
                    Row{"lf cr is two ends", "a\n\rb", {"a", "", "b"}},
                    Row{"crlf crlf", "\r\n\r\nx", {"", "", "x"}},
                    Row{"cr cr lf", "a\r\r\nb", {"a", "", "b"}},
                    Row{"empty input", "", {"", "", ""}},
                    Row{"last line without end", "host\n99", {"host", "99", ""}},
                    Row{"code 26 mid-answer",
                        "ab\x1a"
                        "cd\nef\n",
                        {"ab", "", ""}},
                    Row{"code 26 at start",
                        "\x1a"
                        "8888\n",
                        {"", "", ""}},
                    Row{"code 26 after cr", "a\r\x1a\nb", {"a", "", ""}},
                    Row{"blanks kept", "  x y \n\t\n", {"  x y ", "\t"}},
                    Row{"binary bytes kept",
                        std::string("\0\x01\xff\x7f\n", 5),
                        {std::string("\0\x01\xff\x7f", 4)}}));

TEST(AnswersLong, MegabyteAnswerIsReadWhole) {
    const std::string big(1 << 20, 'z');
    EXPECT_EQ(readAll(big + "\n8888\n", 4096, 2), (std::vector<std::string>{big, "8888"}));
}

TEST(AnswersEnd, FinishedInputIsNotAskedAgain) {
    int readsAfterEnd = -1;
    readAll("a\n", 1, 5, &readsAfterEnd);
    EXPECT_EQ(readsAfterEnd, 1);
    readAll("a\x1a", 1, 5, &readsAfterEnd);
    EXPECT_EQ(readsAfterEnd, 0);
}

} // namespace
