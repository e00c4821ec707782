// The primitives that each system implements (posix/, windows/). Only src/platform/ includes
// this header. Socket calls return 0 on success or a Windows Sockets error number, captured
// right after the failing call and mapped at that boundary; no caller looks at errno or
// WSAGetLastError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sys {

// --- process ---

// Ignores broken pipes, reaps finished children, puts the console in binary mode and starts the
// socket library. Returns false when the socket library cannot be started.
bool processInit();
[[noreturn]] void exit(int status);

// --- console ---

// Writes all of data to standard output. Returns 0, or a text describing the failure.
// A short write is retried until everything is written.
const char* writeStdout(const char* data, std::size_t len);
// The same for standard error, used only when standard output has failed.
const char* writeStderr(const char* data, std::size_t len);

// Reads up to cap bytes from standard input. Returns the count (0 at end of input), or -1 with
// *error set to a description of the failure.
std::ptrdiff_t readStdin(char* buf, std::size_t cap, const char** error);

// --- clock, sleep, sound ---

// Local wall-clock time in whole milliseconds since 1970-01-01 00:00 local time.
std::int64_t localTimeMs();
void sleepMs(std::uint32_t ms);
// Starts the system's WAV player on path; returns at once and reports nothing.
void playWav(const std::string& path);

// --- sockets ---

using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

struct Endpoint {
    alignas(8) unsigned char addr[128];
    int addrLen = 0;
    bool ipv6 = false;
    std::string text; // numeric address: dotted decimal, or the standard IPv6 form
};

// Resolves a host for the given port. An IPv4 literal gives IPv4, an IPv6 literal IPv6; a name
// is looked up for IPv4 first and for IPv6 only when that fails. Returns 0 or 11001..11004.
int resolveHost(const std::string& host, std::uint16_t port, Endpoint& out);
// What resolveHost returns when no address is found: the Windows Sockets number for the code
// that getaddrinfo gave for IPv4, with errno as it was right after that call.
int lookupFailure(int rc, int savedErrno);
// Looks up a TCP service name ("http"). Returns 0, or 10022 when there is no such service.
int lookupService(const std::string& name, std::uint16_t& port);

int create(bool ipv6, Handle& out);
int connect(Handle h, const Endpoint& ep);
// Sends up to len bytes in one call; *sent receives the count accepted.
int send(Handle h, const char* data, std::size_t len, std::size_t& sent);
// Waits up to timeoutMs for the socket to become readable (data, end of stream or error).
int waitReadable(Handle h, int timeoutMs, bool& readable);
// Bytes that a receive would deliver now without waiting.
int bytesWaiting(Handle h, std::size_t& count);
// One receive; *got is 0 when the peer has closed its side.
int recv(Handle h, char* buf, std::size_t cap, std::size_t& got);
int shutdownSend(Handle h);
void close(Handle h);

} // namespace sys
