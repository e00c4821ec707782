#include "int_text.hpp"

namespace plat {
namespace {

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

} // namespace

bool tryParseInt32(std::string_view text, std::int32_t& value) {
    if (text.size() > kMaxNumberText) {
        return false;
    }
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (i < n && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i < n && (text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (i < n && text[i] == '%') {
        base = 2;
        ++i;
    } else if (i < n && text[i] == '&') {
        base = 8;
        ++i;
    }

    const std::uint64_t limit =
        base == 10 ? (negative ? 2147483648ULL : 2147483647ULL) : 4294967295ULL;
    std::uint64_t magnitude = 0;
    bool anyDigit = false;
    for (; i < n && text[i] != '\0'; ++i) {
        const int d = digitValue(text[i]);
        if (d < 0 || static_cast<unsigned>(d) >= base) {
            return false;
        }
        anyDigit = true;
        magnitude = magnitude * base + static_cast<unsigned>(d);
        if (magnitude > limit) {
            return false;
        }
    }
    if (!anyDigit) {
        return false;
    }
    const auto bits = static_cast<std::uint32_t>(magnitude);
    value = static_cast<std::int32_t>(negative ? 0U - bits : bits);
    return true;
}

} // namespace plat
