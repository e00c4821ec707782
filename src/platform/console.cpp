// The console, the process exit and the other services every system shares; the system's own
// part is behind sys.hpp.
#include "answer_reader.hpp"
#include "platform.hpp"
#include "sys.hpp"

#include <exception>
#include <string>

namespace plat {
namespace {

void writeRaw(std::string_view text) {
    Seams& s = seams();
    if (s.consoleOut) {
        s.consoleOut(text);
        return;
    }
    if (const char* err = sys::writeStdout(text.data(), text.size())) {
        throw ConsoleError(std::string("cannot write to standard output: ") + err);
    }
}

std::size_t readStdin(char* buf, std::size_t cap) {
    const char* err = nullptr;
    const std::ptrdiff_t got = sys::readStdin(buf, cap, &err);
    if (got < 0) {
        throw ConsoleError(std::string("cannot read standard input: ") + err);
    }
    return static_cast<std::size_t>(got);
}

} // namespace

Seams& seams() {
    static Seams instance;
    return instance;
}

void processStart() {
    std::set_terminate([] { uncaughtError("unexpected termination"); });
    if (!sys::processInit()) {
        try {
            conWriteLine("Error loading Socket interface (ws2_32.dll)!");
        } catch (...) {
        }
        exitProcess(kUncaughtErrorStatus);
    }
    // Read the clock once now. The first reading loads the time zone and pages in and binds
    // the conversion code; done inside the alarm's first call, that would come between two
    // readings meant to fall in the same millisecond, and the first motion would sound the
    // alarm instead of only arming it.
    sys::localTimeMs();
}

void conWrite(std::string_view text) {
    writeRaw(text);
}

void conWriteLine(std::string_view text) {
    // One write per line, so a line is never split between two writes.
    static std::string line;
    line.assign(text);
    line += "\r\n";
    writeRaw(line);
}

std::string conReadLine() {
    if (seams().consoleIn) {
        return seams().consoleIn();
    }
    static AnswerReader reader(readStdin);
    return reader.read();
}

double nowDateTime() {
    if (seams().clock) {
        return seams().clock();
    }
    return dateTimeFromUnixMs(sys::localTimeMs());
}

void sleepMs(std::uint32_t ms) {
    if (seams().sleep) {
        seams().sleep(ms);
        return;
    }
    sys::sleepMs(ms);
}

void playWavAsync(const std::string& path) {
    if (seams().sound) {
        seams().sound(path);
        return;
    }
    sys::playWav(path);
}

void exitProcess(int status) {
    if (seams().exit) {
        seams().exit(status);
    }
    sys::exit(status);
}

void fatalStop(std::string_view message) {
    conWriteLine(message);
    exitProcess(0);
}

void uncaughtError(std::string_view what) {
    const std::string report =
        "Runtime error " + std::to_string(kUncaughtErrorStatus) + ": " + std::string(what);
    try {
        conWriteLine(report);
    } catch (...) {
        const std::string line = report + "\n";
        sys::writeStderr(line.data(), line.size());
    }
    exitProcess(kUncaughtErrorStatus);
}

} // namespace plat
