// The program's blocking TCP client. It never throws for a socket failure: the failure is left
// in LastError and reported through OnStatus as HR_Error. Every report is delivered
// synchronously, from inside the call that produced it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sys {
using Handle = std::intptr_t;
}

// The reasons of a status report, in this order; stored in one byte.
enum THookSocketReason : std::uint8_t {
    HR_ResolvingBegin,
    HR_ResolvingEnd,
    HR_SocketCreate,
    HR_SocketClose,
    HR_Bind,
    HR_Connect,
    HR_CanRead,
    HR_CanWrite,
    HR_Listen,
    HR_Accept,
    HR_ReadCount,
    HR_WriteCount,
    HR_Wait,
    HR_Error,
};

class TTCPBlockSocket;
using THookSocketStatus = void (*)(TTCPBlockSocket* Sender, THookSocketReason Reason,
                                   const std::string& Value);

class TTCPBlockSocket {
public:
    // The longest line RecvString collects. A board that sends more without CR LF gets
    // kMessageSize instead of an ever-growing buffer.
    static constexpr std::size_t kMaxLineLength = 4096;
    // The most bytes one send or one receive moves.
    static constexpr std::size_t kChunk = 65536;
    // The most that CloseSocket reads and drops before closing, so a board that keeps
    // streaming cannot hold the shutdown.
    static constexpr std::size_t kMaxDrain = 16 * kChunk;

    // Makes no network call and no report.
    TTCPBlockSocket() = default;
    // Closes once more (one more HR_SocketClose). A handler that throws passes through.
    ~TTCPBlockSocket() noexcept(false);
    TTCPBlockSocket(const TTCPBlockSocket&) = delete;
    TTCPBlockSocket& operator=(const TTCPBlockSocket&) = delete;

    THookSocketStatus OnStatus = nullptr;
    // Windows Sockets error number of the last operation; 0 for success.
    std::int32_t LastError = 0;

    // Resolves IP and Port (both as typed) and connects. Reports HR_ResolvingBegin,
    // HR_ResolvingEnd, HR_SocketCreate (when resolved), HR_Error (on failure), HR_Connect.
    void Connect(const std::string& IP, const std::string& Port);
    // Sends all of Data in pieces of at most kChunk bytes, HR_WriteCount after each; a failed
    // piece reports HR_Error and the rest is not sent.
    void SendString(const std::string& Data);
    // Returns the next line without its CR LF; only CR LF ends a line. Each wait for data lasts
    // at most Timeout ms. Returns "" with LastError set on a time-out (10060), a closed
    // connection (10054), an over-long line (10040) or a failed receive.
    std::string RecvString(int Timeout);
    // Shuts the sending side down and drains pending input when the socket is open and the last
    // operation succeeded; then closes. Reports HR_SocketClose on every call.
    void CloseSocket();

private:
    void report(THookSocketReason reason, const std::string& value);
    // Records a failure in LastError and reports it `times` times.
    void fail(int code, int times);
    std::string failReceive(int code, int times);
    bool lineTooLong() const;
    std::string refuseLongLine();
    // The buffer one receive reads into.
    char* chunk();

    sys::Handle handle_ = -1;
    bool connected_ = false;
    std::string buffer_;      // received bytes not yet returned as a line
    std::size_t scanned_ = 0; // bytes of buffer_ already searched for CR LF
    std::unique_ptr<char[]> chunk_;
};
