// A board that answers at once, for latency measurements: every request line "<packet>\r\n"
// gets back, in one send, the packet of the payload "<request code>T" and CR LF. Nothing is
// traced and nothing waits, so an exchange with it costs the loopback round trip and the
// peer's poll, receive and send.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

namespace bench {

// The answer line (packet and CR LF) to one request line without its CR LF; empty when the
// line holds no payload.
std::string answerLine(std::string_view requestLine);

class AnswerPeer {
public:
    // Listens on 127.0.0.1 at a port that the system picks and serves every connection from
    // one thread, so that all clients meet the same peer. Throws std::runtime_error on failure.
    AnswerPeer();
    // Stops the thread and closes whatever connections are still open.
    ~AnswerPeer();
    AnswerPeer(const AnswerPeer&) = delete;
    AnswerPeer& operator=(const AnswerPeer&) = delete;

    std::uint16_t port() const { return port_; }

private:
    void run();

    int listenFd_ = -1;
    int stopRead_ = -1;
    int stopWrite_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

// A plain client connection to 127.0.0.1:port with TCP_NODELAY, as the monitor's socket sets
// it. Throws std::runtime_error on failure.
int connectLoopback(std::uint16_t port);

} // namespace bench
