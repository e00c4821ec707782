// Byte strings in and out of boardsim: the escapes accepted in fault texts, the escaping used in
// the exchange log, and the numbers taken from the command line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace boardsim {

// Turns a fault TEXT into bytes: \r \n \\ \0 and \xHH (two hex digits) are escapes, everything
// else stands for itself. Throws UsageError on any other escape.
std::string unescapeText(std::string_view text);

// The log form of bytes: printable ASCII as is except " and \ (backslashed), CR and LF as \r and
// \n, any other byte as \xHH in lower case. Reversible, and never contains a line break.
std::string escapeForLog(std::string_view bytes);

// A decimal count without sign. `what` names the value in the error message.
std::uint64_t parseCount(std::string_view digits, std::string_view what);

// A count of milliseconds, at most one hour, so that it always fits a poll() time-out.
std::uint64_t parseMillis(std::string_view digits, std::string_view what);

// A byte count with an optional K, M or G suffix (powers of 1024, either case).
std::uint64_t parseSize(std::string_view text, std::string_view what);

} // namespace boardsim
