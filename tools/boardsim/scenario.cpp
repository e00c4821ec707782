#include "scenario.hpp"

#include "errors.hpp"
#include "link/frame.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace boardsim {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

} // namespace

std::vector<Cycle> parseCycles(std::string_view letters) {
    std::vector<Cycle> cycles;
    for (const char c : letters) {
        switch (c) {
        case 'M':
        case 'o':
        case '.':
            cycles.push_back(static_cast<Cycle>(c));
            break;
        default:
            if (!isSpace(c)) {
                throw UsageError(std::string("bad cycle letter '") + c +
                                 "' (use M for on with motion, o for on, . for off)");
            }
        }
    }
    return cycles;
}

std::vector<Cycle> loadCyclesFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw RuntimeFailure("cannot read cycles file " + path + ": " + std::strerror(errno));
    }
    std::ostringstream all;
    all << in.rdbuf();
    if (in.bad()) {
        throw RuntimeFailure("cannot read cycles file " + path);
    }
    std::string letters;
    bool comment = false;
    for (const char c : all.str()) {
        if (c == '\n') {
            comment = false;
        } else if (c == '#') {
            comment = true;
        } else if (!comment) {
            letters += c;
        }
    }
    try {
        return parseCycles(letters);
    } catch (const UsageError& e) {
        throw UsageError(std::string(e.what()) + " in " + path);
    }
}

std::optional<std::string> decodeRequest(std::string_view packet) {
    if (packet.size() < 4) {
        return std::nullopt;
    }
    const int len = frame::lengthField(packet);
    if (len < frame::kMinPacketLen || len > frame::kMaxPacketLen ||
        static_cast<std::size_t>(len) > packet.size()) {
        return std::nullopt;
    }
    if (static_cast<unsigned char>(packet[0]) != frame::checksum(packet, len)) {
        return std::nullopt;
    }
    return std::string(packet.substr(3, static_cast<std::size_t>(len) - 3));
}

std::optional<std::string> Board::answer(std::string_view request) {
    if (request == "1") {
        current_ = next_ < cycles_.size() ? cycles_[next_++] : Cycle::Off;
        return current_ == Cycle::Off ? "1F" : "1T";
    }
    if (request == "2") {
        return current_ == Cycle::OnMotion ? "2T" : "2F";
    }
    if (request == "3" || request == "4" || request == "5") {
        return std::string(request);
    }
    return std::nullopt;
}

} // namespace boardsim
