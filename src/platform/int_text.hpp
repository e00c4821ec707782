// Reading a 32-bit signed integer from text the way the operator may type one.
#pragma once

#include <cstdint>
#include <string_view>

namespace plat {

// The longest text that can hold a number.
inline constexpr std::size_t kMaxNumberText = 255;

// Accepts: at most kMaxNumberText characters; leading spaces and tabs; one optional "+" or "-";
// an optional base prefix ("$", "x", "X", "0x", "0X" hexadecimal, "%" binary, "&" octal);
// at least one digit of the base, leading zeros included. A NUL ends the number early.
// Decimal magnitudes up to 2147483647 (2147483648 with "-"); other bases up to 4294967295,
// wrapped to 32 bits. Anything else, a blank after the digits included, fails.
bool tryParseInt32(std::string_view text, std::int32_t& value);

} // namespace plat
