// The two ways boardsim refuses to go on. The distinction decides the exit status: a command
// line the user must fix is a usage error (2); anything the environment refused is a failure (1).
#pragma once

#include <stdexcept>

namespace boardsim {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct RuntimeFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace boardsim
