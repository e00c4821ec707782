// The exchange log: one line per event, written out at once, so that a test can read what the
// monitor put on the wire while boardsim is still running.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace boardsim {

class EventLog {
public:
    using Sink = std::function<void(std::string_view line)>;

    explicit EventLog(Sink sink) : sink_(std::move(sink)) {}

    void accept(std::string_view peer) { emit("accept " + std::string(peer)); }
    void rx(std::string_view bytes) { emit("rx " + quote(bytes)); }
    void rxPartial(std::string_view bytes) { emit("rx-partial " + quote(bytes)); }
    void badRequest(std::string_view bytes) { emit("bad-request " + quote(bytes)); }
    void tx(std::string_view bytes) { emit("tx " + quote(bytes)); }
    // Writes too big to spell out: "tx flood N bytes", "tx bigline N bytes".
    void txBulk(std::string_view what, std::uint64_t bytes) {
        emit("tx " + std::string(what) + " " + std::to_string(bytes) + " bytes");
    }
    void eof() { emit("eof"); }
    void close() { emit("close"); }
    void reset() { emit("reset"); }
    // The connection broke under boardsim (the monitor reset it, for one).
    void lost(std::string_view why) { emit("lost " + std::string(why)); }

private:
    static std::string quote(std::string_view bytes);
    void emit(const std::string& line) { sink_(line); }

    Sink sink_;
};

// The log's destination: a file (truncated) or stderr for "-". Each line is flushed.
class LogFile {
public:
    // Throws RuntimeFailure when the file cannot be opened for writing.
    explicit LogFile(const std::string& path);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    void write(std::string_view line);

private:
    std::FILE* file_ = nullptr;
    bool owned_ = false;
};

} // namespace boardsim
