#include "text.hpp"

#include "errors.hpp"

#include <limits>

namespace boardsim {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string quoted(std::string_view what, std::string_view text) {
    std::string s(what);
    s += " '";
    s += text;
    s += "'";
    return s;
}

} // namespace

std::string unescapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 1 >= text.size()) {
            throw UsageError(quoted("text ends with a lone backslash:", text));
        }
        const char e = text[++i];
        switch (e) {
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case '\\':
            out += '\\';
            break;
        case '0':
            out += '\0';
            break;
        case 'x': {
            const int hi = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                throw UsageError(quoted("\\x needs two hex digits in", text));
            }
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            throw UsageError(std::string("unknown escape \\") + e + " in '" + std::string(text) +
                             "' (use \\r \\n \\\\ \\0 \\xHH)");
        }
    }
    return out;
}

std::string escapeForLog(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (b >= 0x20 && b <= 0x7e) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0x0f];
        }
    }
    return out;
}

std::uint64_t parseCount(std::string_view digits, std::string_view what) {
    if (digits.empty()) {
        throw UsageError(std::string(what) + " needs a number");
    }
    std::uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            throw UsageError(quoted(std::string(what) + " is not a number:", digits));
        }
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10) {
            throw UsageError(quoted(std::string(what) + " is too large:", digits));
        }
        value = value * 10 + d;
    }
    return value;
}

std::uint64_t parseMillis(std::string_view digits, std::string_view what) {
    constexpr std::uint64_t kHour = 3'600'000;
    const std::uint64_t ms = parseCount(digits, what);
    if (ms > kHour) {
        throw UsageError(quoted(std::string(what) + " is longer than an hour:", digits));
    }
    return ms;
}

std::uint64_t parseSize(std::string_view text, std::string_view what) {
    std::uint64_t unit = 1;
    std::string_view digits = text;
    if (!text.empty()) {
        switch (text.back()) {
        case 'K':
        case 'k':
            unit = 1ULL << 10;
            break;
        case 'M':
        case 'm':
            unit = 1ULL << 20;
            break;
        case 'G':
        case 'g':
            unit = 1ULL << 30;
            break;
        default:
            break;
        }
        if (unit != 1) {
            digits.remove_suffix(1);
        }
    }
    const std::uint64_t n = parseCount(digits, what);
    if (n > std::numeric_limits<std::uint64_t>::max() / unit) {
        throw UsageError(quoted(std::string(what) + " is too large:", text));
    }
    return n * unit;
}

} // namespace boardsim
