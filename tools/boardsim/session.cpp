#include "session.hpp"

#include "link/frame.hpp"

#include <algorithm>

namespace boardsim {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// A checksum byte that differs from `sum` and stays printable, so the log shows it plainly.
char spoiled(char sum) {
    const int next = static_cast<unsigned char>(sum) + 1;
    return static_cast<char>(next > 126 ? 32 : next);
}

} // namespace

std::string Session::Reply::packet() const {
    if (!payload) {
        return {};
    }
    std::string p = frame::encode(*payload);
    if (badSum) {
        p[0] = spoiled(p[0]);
    }
    return p;
}

bool Session::open() {
    Reply none;
    bool answered = false;
    return runActions(plan_.at(kAtAccept), none, answered);
}

bool Session::receive(std::string_view bytes) {
    if (ended_) {
        return false;
    }
    pending_.append(bytes);
    std::size_t start = 0;
    for (;;) {
        const auto end = pending_.find(kLineEnd, start);
        if (end == std::string::npos) {
            break;
        }
        const std::size_t next = end + kLineEnd.size();
        const bool goOn = handleLine(std::string_view(pending_).substr(start, next - start));
        start = next;
        if (!goOn) {
            pending_.clear();
            return false;
        }
    }
    pending_.erase(0, start);
    return true;
}

void Session::peerClosed() {
    if (ended_) {
        return;
    }
    if (!pending_.empty()) {
        log_.rxPartial(pending_);
        pending_.clear();
    }
    log_.eof();
}

void Session::finish() {
    if (ended_) {
        return;
    }
    ended_ = true;
    link_.closeOrderly();
    log_.close();
}

bool Session::handleLine(std::string_view line) {
    ++requests_;
    log_.rx(line);
    const auto payload = decodeRequest(line.substr(0, line.size() - kLineEnd.size()));
    Reply reply;
    if (payload) {
        reply.payload = board_.answer(*payload);
    }
    if (!reply.payload) {
        log_.badRequest(line);
    }

    if (answerDelayMs_ > 0 && !check(link_.pause(answerDelayMs_))) {
        return false;
    }
    bool answered = false;
    if (!runActions(plan_.at(requests_), reply, answered)) {
        return false;
    }
    if (answered) {
        return true;
    }
    std::string out = reply.packet();
    if (reply.payload) {
        out += reply.ending;
    }
    for (const auto& extra : reply.extras) {
        out += extra;
        out += kLineEnd;
    }
    if (out.empty()) {
        return true;
    }
    return check(sendSegmented(out, reply.segment, reply.gapMs));
}

bool Session::runActions(const std::vector<Action>& actions, Reply& reply, bool& answered) {
    using Kind = Action::Kind;
    for (const auto& a : actions) {
        switch (a.kind) {
        case Kind::Delay:
            if (!check(link_.pause(a.count))) {
                return false;
            }
            break;
        case Kind::Answer:
            reply.payload = a.text;
            break;
        case Kind::BadSum:
            reply.badSum = true;
            break;
        case Kind::Lf:
            reply.ending = "\n";
            break;
        case Kind::Cr:
            reply.ending = "\r";
            break;
        case Kind::Split:
            reply.segment = a.count;
            reply.gapMs = a.gapMs;
            break;
        case Kind::Extra:
            reply.extras.push_back(a.text);
            break;
        case Kind::Raw:
            answered = true;
            if (!a.text.empty() && !check(sendLogged(a.text))) {
                return false;
            }
            break;
        case Kind::Flood:
            answered = true;
            if (!check(stream("flood", {}, a.count, {}))) {
                return false;
            }
            break;
        case Kind::BigLine: {
            answered = true;
            const std::string head = reply.packet();
            const std::uint64_t filler = a.count > head.size() ? a.count - head.size() : 0;
            if (!check(stream("bigline", head, filler, reply.ending))) {
                return false;
            }
            break;
        }
        case Kind::Silent:
            answered = true;
            break;
        case Kind::Close:
            finish();
            return false;
        case Kind::Reset:
            ended_ = true;
            link_.abort();
            log_.reset();
            return false;
        }
    }
    return true;
}

bool Session::check(IoStatus status) {
    switch (status) {
    case IoStatus::Ok:
        return true;
    case IoStatus::PeerGone:
        log_.lost(link_.lastError());
        finish();
        return false;
    case IoStatus::Stopped:
        finish();
        return false;
    }
    return false;
}

IoStatus Session::sendLogged(std::string_view bytes) {
    log_.tx(bytes);
    return link_.send(bytes);
}

IoStatus Session::sendSegmented(std::string_view bytes, std::uint64_t segment,
                                std::uint64_t gapMs) {
    if (segment == 0) {
        return sendLogged(bytes);
    }
    for (std::size_t at = 0; at < bytes.size(); at += segment) {
        if (at > 0) {
            if (const auto s = link_.pause(gapMs); s != IoStatus::Ok) {
                return s;
            }
        }
        if (const auto s = sendLogged(bytes.substr(at, segment)); s != IoStatus::Ok) {
            return s;
        }
    }
    return IoStatus::Ok;
}

IoStatus Session::stream(std::string_view what, std::string_view head, std::uint64_t filler,
                         std::string_view tail) {
    static const std::string kFiller(kChunk, 'A');
    std::uint64_t sent = 0;
    IoStatus status = IoStatus::Ok;
    std::string chunk;
    chunk.reserve(kChunk + head.size() + tail.size());
    chunk.assign(head);
    for (;;) {
        const auto room = kChunk > chunk.size() ? kChunk - chunk.size() : 0;
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(filler, room));
        chunk.append(kFiller, 0, take);
        filler -= take;
        if (filler == 0) {
            chunk.append(tail);
        }
        if (!chunk.empty()) {
            status = link_.send(chunk);
            if (status != IoStatus::Ok) {
                break;
            }
            sent += chunk.size();
        }
        if (filler == 0) {
            break;
        }
        chunk.clear();
    }
    log_.txBulk(what, sent);
    return status;
}

} // namespace boardsim
