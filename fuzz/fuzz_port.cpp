// The operator's port answer decides whether the question is asked again. The parser must agree
// with the rules on every text, in its verdict and in the value it reads.
#include "fuzz_check.hpp"
#include "platform/int_text.hpp"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

// The rules, one step after the other, written apart from the parser: a NUL ends the text as far
// as the number goes; then blanks, sign, base prefix, digits of the base, and a range check on
// the significant digits.
bool reference(std::string_view text, std::int32_t& out) {
    if (text.size() > 255) {
        return false;
    }
    text = text.substr(0, text.find('\0'));
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return false;
    }
    std::string_view rest = text.substr(first);
    bool negative = false;
    if (rest.front() == '+' || rest.front() == '-') {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    unsigned base = 10;
    if (rest.substr(0, 2) == "0x" || rest.substr(0, 2) == "0X") {
        base = 16;
        rest.remove_prefix(2);
    } else if (!rest.empty() &&
               std::string_view("$xX").find(rest.front()) != std::string_view::npos) {
        base = 16;
        rest.remove_prefix(1);
    } else if (!rest.empty() && rest.front() == '%') {
        base = 2;
        rest.remove_prefix(1);
    } else if (!rest.empty() && rest.front() == '&') {
        base = 8;
        rest.remove_prefix(1);
    }
    if (rest.empty()) {
        return false;
    }
    constexpr std::string_view kLower = "0123456789abcdef";
    constexpr std::string_view kUpper = "0123456789ABCDEF";
    for (const char c : rest) {
        std::size_t v = kLower.find(c);
        if (v == std::string_view::npos) {
            v = kUpper.find(c);
        }
        if (v == std::string_view::npos || v >= base) {
            return false;
        }
    }
    const std::size_t nonZero = rest.find_first_not_of('0');
    const std::string_view significant =
        nonZero == std::string_view::npos ? std::string_view() : rest.substr(nonZero);
    // The most significant digits a magnitude within the range can have in each base.
    const std::size_t maxDigits = base == 2 ? 32 : base == 8 ? 11 : base == 10 ? 10 : 8;
    if (significant.size() > maxDigits) {
        return false;
    }
    std::uint64_t magnitude = 0;
    for (const char c : significant) {
        std::size_t v = kLower.find(c);
        if (v == std::string_view::npos) {
            v = kUpper.find(c);
        }
        magnitude = magnitude * base + v;
    }
    const std::uint64_t limit =
        base == 10 ? (negative ? 2147483648ULL : 2147483647ULL) : 4294967295ULL;
    if (magnitude > limit) {
        return false;
    }
    const std::int64_t signedValue =
        negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    out = static_cast<std::int32_t>(static_cast<std::uint32_t>(signedValue));
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::int32_t parsed = 12345;
    std::int32_t expected = 54321;
    const bool ok = plat::tryParseInt32(text, parsed);
    FUZZ_REQUIRE(ok == reference(text, expected));
    if (ok) {
        FUZZ_REQUIRE(parsed == expected);
    }
    return 0;
}
