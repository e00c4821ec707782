#include "wav.hpp"

#include "errors.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <numbers>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace boardsim {

namespace {

void put16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xff);
    out += static_cast<char>(v >> 8);
}

void put32(std::string& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        out += static_cast<char>((v >> shift) & 0xff);
    }
}

std::string failure(const std::string& what, const std::string& path, int err) {
    return what + " " + path + ": " + std::strerror(err);
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Moves tmp to path unless path exists. Returns 0, or the errno (EEXIST when path is taken).
int placeWithoutReplacing(const std::string& tmp, const std::string& path) {
    if (::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without RENAME_NOREPLACE: a hard link fails the same way on an existing
    // name.
    const int rc = ::link(tmp.c_str(), path.c_str());
    const int err = rc == 0 ? 0 : errno;
    ::unlink(tmp.c_str());
    return err;
}

} // namespace

std::string alarmWav() {
    constexpr std::uint16_t kChannels = 1;
    constexpr std::uint16_t kBits = 16;
    constexpr std::uint32_t kDataBytes = kAlarmSamples * kChannels * kBits / 8;
    // Two tones, a tenth of a second each, ramped in and out so the switches do not click.
    constexpr double kTones[2] = {880.0, 660.0};
    constexpr std::uint32_t kToneSamples = kAlarmRate / 10;
    constexpr std::uint32_t kRamp = kAlarmRate / 200;
    constexpr double kAmplitude = 0.6 * 32767.0;

    std::string out;
    out.reserve(44 + kDataBytes);
    out += "RIFF";
    put32(out, 36 + kDataBytes);
    out += "WAVE";
    out += "fmt ";
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, kChannels);
    put32(out, kAlarmRate);
    put32(out, kAlarmRate * kChannels * kBits / 8);
    put16(out, kChannels * kBits / 8);
    put16(out, kBits);
    out += "data";
    put32(out, kDataBytes);

    double phase = 0.0;
    for (std::uint32_t i = 0; i < kAlarmSamples; ++i) {
        const std::uint32_t inTone = i % kToneSamples;
        const double freq = kTones[(i / kToneSamples) % 2];
        const std::uint32_t edge = std::min(inTone, kToneSamples - 1 - inTone);
        const double envelope = edge < kRamp ? static_cast<double>(edge) / kRamp : 1.0;
        const double sample = kAmplitude * envelope * std::sin(phase);
        phase += 2.0 * std::numbers::pi * freq / kAlarmRate;
        put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(sample))));
    }
    return out;
}

AlarmWrite writeAlarm(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::symlink_status(path, ec).type() != fs::file_type::not_found) {
        return AlarmWrite::AlreadyThere;
    }
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty()) {
        fs::create_directories(parent, ec);
        if (ec) {
            throw RuntimeFailure("cannot create directory " + parent.string() + ": " +
                                 ec.message());
        }
    }

    std::string tmp = path + ".tmpXXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        throw RuntimeFailure(failure("cannot create a file beside", path, errno));
    }
    // mkstemp makes the file private; give it the mode any newly created file would get.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const bool written = writeAll(fd, alarmWav()) && ::fchmod(fd, 0666 & ~mask) == 0;
    const int writeErr = errno;
    if (::close(fd) != 0 || !written) {
        const int err = written ? errno : writeErr;
        ::unlink(tmp.c_str());
        throw RuntimeFailure(failure("cannot write", tmp, err));
    }
    const int err = placeWithoutReplacing(tmp, path);
    if (err == EEXIST) {
        ::unlink(tmp.c_str());
        return AlarmWrite::AlreadyThere;
    }
    if (err != 0) {
        ::unlink(tmp.c_str());
        throw RuntimeFailure(failure("cannot write", path, err));
    }
    return AlarmWrite::Written;
}

} // namespace boardsim
