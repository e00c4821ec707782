#include "tcp_socket.hpp"

#include "int_text.hpp"
#include "sys.hpp"
#include "wsa_errors.hpp"

#include <algorithm>
#include <string_view>

namespace {

// The port text as a number: whatever the prompt accepts, when it names a TCP port, or else a
// service name such as "http".
int resolvePort(const std::string& text, std::uint16_t& port) {
    // A NUL would cut the text short on its way to the system's look-up.
    if (text.empty() || text.find('\0') != std::string::npos) {
        return wsa::kInvalid;
    }
    std::int32_t value = 0;
    if (plat::tryParseInt32(text, value)) {
        if (value < 0 || value > 65535) {
            return wsa::kInvalid;
        }
        port = static_cast<std::uint16_t>(value);
        return 0;
    }
    return sys::lookupService(text, port);
}

} // namespace

TTCPBlockSocket::~TTCPBlockSocket() noexcept(false) {
    CloseSocket();
}

char* TTCPBlockSocket::chunk() {
    // Allocated once and never cleared: every receive writes before anything is read.
    if (!chunk_) {
        chunk_ = std::make_unique_for_overwrite<char[]>(kChunk);
    }
    return chunk_.get();
}

void TTCPBlockSocket::report(THookSocketReason reason, const std::string& value) {
    if (OnStatus != nullptr) {
        OnStatus(this, reason, value);
    }
}

void TTCPBlockSocket::fail(int code, int times) {
    LastError = code;
    const std::string value = std::to_string(code) + "," + wsa::describe(code);
    for (int i = 0; i < times; ++i) {
        report(HR_Error, value);
    }
}

std::string TTCPBlockSocket::failReceive(int code, int times) {
    fail(code, times);
    return {};
}

void TTCPBlockSocket::Connect(const std::string& IP, const std::string& Port) {
    if (handle_ != sys::kNoHandle) {
        sys::close(handle_);
        handle_ = sys::kNoHandle;
    }
    connected_ = false;
    buffer_.clear();
    scanned_ = 0;
    LastError = 0;

    const std::string target = IP + ":" + Port;
    report(HR_ResolvingBegin, target);

    std::uint16_t port = 0;
    sys::Endpoint ep;
    int err = resolvePort(Port, port);
    if (err == 0) {
        err = IP.find('\0') != std::string::npos ? wsa::kHostNotFound
                                                 : sys::resolveHost(IP, port, ep);
    }
    report(HR_ResolvingEnd, err == 0 ? ep.text + ":" + std::to_string(port) : "0.0.0.0:0");

    if (err == 0) {
        const int createErr = sys::create(ep.ipv6, handle_);
        if (createErr != 0) {
            fail(createErr, 1);
        }
        report(HR_SocketCreate, ep.ipv6 ? "IPv6" : "IPv4");
        err = createErr != 0 ? wsa::kNotSocket : sys::connect(handle_, ep);
    }
    if (err != 0) {
        fail(err, 1);
    } else {
        connected_ = true;
    }
    report(HR_Connect, target);
}

void TTCPBlockSocket::SendString(const std::string& Data) {
    LastError = 0;
    if (handle_ == sys::kNoHandle || !connected_) {
        fail(handle_ == sys::kNoHandle ? wsa::kNotSocket : wsa::kNotConn, 1);
        return;
    }
    std::size_t done = 0;
    while (done < Data.size()) {
        const std::size_t piece = std::min(Data.size() - done, kChunk);
        std::size_t sent = 0;
        const int err = sys::send(handle_, Data.data() + done, piece, sent);
        if (err != 0) {
            fail(err, 1);
            return;
        }
        report(HR_WriteCount, std::to_string(sent));
        done += sent;
    }
}

std::string TTCPBlockSocket::refuseLongLine() {
    // The rest of an over-long line is not worth keeping: the run ends on this failure.
    buffer_.clear();
    scanned_ = 0;
    return failReceive(wsa::kMessageSize, 3);
}

bool TTCPBlockSocket::lineTooLong() const {
    // No CR LF in buffer_ yet: the line is at least this long, less a CR that an LF may finish.
    std::size_t least = buffer_.size();
    if (least > 0 && buffer_.back() == '\r') {
        --least;
    }
    return least > kMaxLineLength;
}

std::string TTCPBlockSocket::RecvString(int Timeout) {
    LastError = 0;
    if (handle_ == sys::kNoHandle || !connected_) {
        return failReceive(handle_ == sys::kNoHandle ? wsa::kNotSocket : wsa::kNotConn, 3);
    }
    for (;;) {
        const std::string_view held(buffer_);
        const std::size_t from = scanned_ > 0 ? scanned_ - 1 : 0;
        const std::size_t end = held.find("\r\n", from);
        if (end != std::string_view::npos) {
            if (end > kMaxLineLength) {
                return refuseLongLine();
            }
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 2);
            scanned_ = 0;
            return line;
        }
        scanned_ = buffer_.size();
        if (lineTooLong()) {
            return refuseLongLine();
        }

        std::size_t waiting = 0;
        int err = sys::bytesWaiting(handle_, waiting);
        if (err != 0) {
            return failReceive(err, 3);
        }
        if (waiting == 0) {
            bool readable = false;
            err = sys::waitReadable(handle_, Timeout, readable);
            if (err != 0) {
                return failReceive(err, 3);
            }
            if (!readable) {
                return failReceive(wsa::kTimedOut, 2);
            }
            report(HR_CanRead, "");
        }
        std::size_t got = 0;
        err = sys::recv(handle_, chunk(), kChunk, got);
        if (err != 0) {
            return failReceive(err, 3);
        }
        if (got == 0) {
            return failReceive(wsa::kConnReset, 2);
        }
        buffer_.append(chunk_.get(), got);
        report(HR_ReadCount, std::to_string(got));
    }
}

void TTCPBlockSocket::CloseSocket() {
    if (handle_ != sys::kNoHandle && connected_ && LastError == 0) {
        sys::shutdownSend(handle_);
        buffer_.clear();
        scanned_ = 0;
        for (std::size_t drained = 0; drained < kMaxDrain;) {
            std::size_t waiting = 0;
            if (sys::bytesWaiting(handle_, waiting) != 0 || waiting == 0) {
                break;
            }
            std::size_t got = 0;
            const std::size_t room = std::min(kChunk, kMaxDrain - drained);
            const int err = sys::recv(handle_, chunk(), room, got);
            if (err != 0) {
                fail(err, 3);
                break;
            }
            if (got == 0) {
                break;
            }
            report(HR_ReadCount, std::to_string(got));
            drained += got;
        }
        LastError = 0;
    }
    if (handle_ != sys::kNoHandle) {
        sys::close(handle_);
        handle_ = sys::kNoHandle;
    }
    connected_ = false;
    report(HR_SocketClose, "");
}
