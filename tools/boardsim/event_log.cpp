#include "event_log.hpp"

#include "errors.hpp"
#include "text.hpp"

#include <cerrno>
#include <cstring>

namespace boardsim {

std::string EventLog::quote(std::string_view bytes) {
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on "literal" + string at -O2.
    std::string quoted = "\"";
    quoted += escapeForLog(bytes);
    quoted += '"';
    return quoted;
}

LogFile::LogFile(const std::string& path) {
    if (path == "-") {
        file_ = stderr;
        return;
    }
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr) {
        throw RuntimeFailure("cannot write log " + path + ": " + std::strerror(errno));
    }
    owned_ = true;
}

LogFile::~LogFile() {
    if (owned_) {
        std::fclose(file_);
    }
}

void LogFile::write(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

} // namespace boardsim
