// The port prompt repeats exactly when this parser refuses the answer.
#include "platform/int_text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Row {
    std::string text;
    bool accepted;
    std::int32_t value; // checked only when accepted
};

class IntText : public testing::TestWithParam<Row> {};

TEST_P(IntText, AcceptsExactlyThePromptForms) {
    const Row& row = GetParam();
    std::int32_t value = 12345;
    ASSERT_EQ(plat::tryParseInt32(row.text, value), row.accepted) << '"' << row.text << '"';
    if (row.accepted) {
        EXPECT_EQ(value, row.value) << '"' << row.text << '"';
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, IntText,
    testing::Values(
        // refused
        Row{"abc", false, 0}, Row{"8888 ", false, 0}, Row{"- 5", false, 0},
        Row{"2147483648", false, 0}, Row{"$", false, 0}, Row{"0x", false, 0}, Row{"%2", false, 0},
        Row{"", false, 0}, Row{"+", false, 0}, Row{"-", false, 0}, Row{"x", false, 0},
        Row{"  ", false, 0}, Row{"\t", false, 0}, Row{"+ 1", false, 0}, Row{"1 2", false, 0},
        Row{"12a", false, 0}, Row{"&8", false, 0}, Row{"$G", false, 0}, Row{"--1", false, 0},
        Row{"+-1", false, 0}, Row{"$-1", false, 0}, Row{"$100000000", false, 0},
        Row{"%100000000000000000000000000000000", false, 0}, Row{"&40000000000", false, 0},
        Row{"-2147483649", false, 0}, Row{std::string("\0", 1), false, 0},
        Row{std::string("$\0"
                        "1",
                        3),
            false, 0},
        Row{"1e3", false, 0}, Row{"0b1", false, 0}, Row{"8888\n", false, 0},
        // accepted; the value is only for the record
        Row{" 8888", true, 8888}, Row{"\t8888", true, 8888}, Row{"+8888", true, 8888},
        Row{"$22B8", true, 8888}, Row{"0x22b8", true, 8888}, Row{"0X22B8", true, 8888},
        Row{"x22b8", true, 8888}, Row{"X22B8", true, 8888}, Row{"%1", true, 1},
        Row{"&17", true, 15}, Row{"-1", true, -1}, Row{"0", true, 0}, Row{"000", true, 0},
        Row{"70000", true, 70000}, Row{"-2147483648", true, INT32_MIN},
        Row{"2147483647", true, INT32_MAX}, Row{"$FFFFFFFF", true, -1},
        Row{"$80000000", true, INT32_MIN}, Row{"-$1", true, -1}, Row{"-0x10", true, -16},
        Row{"%11111111111111111111111111111111", true, -1}, Row{"&37777777777", true, -1},
        Row{"$0000000000000FFFFFFFF", true, -1},
        Row{std::string("12\0"
                        "junk",
                        7),
            true, 12},
        Row{std::string("$1F\0"
                        " ",
                        5),
            true, 31}));

TEST(IntTextLength, TwoHundredFiftyFiveCharactersPassButNotOneMore) {
    std::int32_t value = 0;
    const std::string at255 = std::string(251, '0') + "8888";
    ASSERT_EQ(at255.size(), 255U);
    EXPECT_TRUE(plat::tryParseInt32(at255, value));
    EXPECT_EQ(value, 8888);
    EXPECT_FALSE(plat::tryParseInt32("0" + at255, value));
    EXPECT_FALSE(plat::tryParseInt32(std::string(256, ' ') + "1", value));
}

} // namespace
