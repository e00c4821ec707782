#include "errors.hpp"
#include "text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace boardsim {
namespace {

using namespace std::string_literals;

struct TextCase {
    std::string in;
    std::string out;
};

TEST(UnescapeText, TurnsEscapesIntoBytes) {
    const std::vector<TextCase> cases = {
        {"c052T", "c052T"},        {"", ""},
        {"a\\r\\nb", "a\r\nb"},    {"\\\\", "\\"},
        {"x\\0y", "x\0y"s},        {"\\x41\\x7e", "A~"},
        {"\\xfF\\x00", "\xff\0"s}, {"1t\\r", "1t\r"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(unescapeText(c.in), c.out) << c.in;
    }
}

TEST(UnescapeText, RejectsMalformedEscapes) {
    for (const std::string bad : {"\\", "abc\\", "\\q", "\\t", "\\x4", "\\x", "\\xg1", "a\\x1"}) {
        EXPECT_THROW(unescapeText(bad), UsageError) << bad;
    }
}

TEST(EscapeForLog, KeepsPrintableAndSpellsOutTheRest) {
    const std::vector<TextCase> cases = {
        {"5041\r\n", "5041\\r\\n"}, {" ~AZaz09", " ~AZaz09"},
        {"\"q\\", "\\\"q\\\\"},     {"\x01\x7f\xff\t"s, "\\x01\\x7f\\xff\\x09"},
        {"\0"s, "\\x00"},           {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escapeForLog(c.in), c.out) << c.out;
    }
}

TEST(EscapeForLog, NeverProducesALineBreakOrAnUnescapedQuote) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    const std::string escaped = escapeForLog(all);
    EXPECT_EQ(escaped.find('\n'), std::string::npos);
    EXPECT_EQ(escaped.find('\r'), std::string::npos);
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const auto b = static_cast<unsigned char>(escaped[i]);
        EXPECT_TRUE(b >= 0x20 && b <= 0x7e) << i;
        if (escaped[i] == '\\') {
            ++i; // the escaped character, a quote among them
        } else {
            EXPECT_NE(escaped[i], '"') << i;
        }
    }
}

struct SizeCase {
    std::string text;
    std::uint64_t bytes;
};

TEST(ParseSize, TakesBinarySuffixes) {
    const std::vector<SizeCase> cases = {
        {"0", 0},
        {"10", 10},
        {"1K", 1024},
        {"2k", 2048},
        {"256M", 268435456},
        {"1G", 1073741824},
        {"3g", 3221225472},
        {"18446744073709551615", 18446744073709551615ULL},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseSize(c.text, "size"), c.bytes) << c.text;
    }
}

TEST(ParseSize, RejectsWhatIsNotASize) {
    for (const std::string bad :
         {"", "K", "1.5K", "-1", "+1", "1T", "1KB", " 1", "18446744073709551616", "17179869184G"}) {
        EXPECT_THROW(parseSize(bad, "size"), UsageError) << bad;
    }
}

TEST(ParseMillis, AcceptsUpToAnHour) {
    EXPECT_EQ(parseMillis("0", "delay"), 0U);
    EXPECT_EQ(parseMillis("3600000", "delay"), 3600000U);
    EXPECT_THROW(parseMillis("3600001", "delay"), UsageError);
    EXPECT_THROW(parseMillis("1s", "delay"), UsageError);
    EXPECT_THROW(parseMillis("", "delay"), UsageError);
}

} // namespace
} // namespace boardsim
