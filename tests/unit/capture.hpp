// Test seams: what the routines write, and a clock the test sets.
#pragma once

#include "platform/platform.hpp"

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// Collects every console write while it lives.
class ConsoleCapture {
public:
    ConsoleCapture() {
        plat::seams().consoleOut = [this](std::string_view text) { text_.append(text); };
    }
    ~ConsoleCapture() { plat::seams().consoleOut = nullptr; }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // Everything written, and then forgotten.
    std::string take() { return std::exchange(text_, {}); }

private:
    std::string text_;
};

// The lines given, each with CR LF.
inline std::string lines(const std::vector<std::string>& ls) {
    std::string s;
    for (const std::string& l : ls) {
        s += l + "\r\n";
    }
    return s;
}

} // namespace testing_support
