// The system primitives on Windows. Socket failures are already Windows Sockets numbers here:
// each one is taken from WSAGetLastError right after the call that failed.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "../sys.hpp"
#include "../wsa_errors.hpp"

// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <mmsystem.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>

#ifndef WSA_FLAG_NO_HANDLE_INHERIT
#define WSA_FLAG_NO_HANDLE_INHERIT 0x80
#endif

namespace sys {
namespace {

// Milliseconds from 1601-01-01, where FILETIME counts from, to 1970-01-01.
constexpr std::int64_t kFileTimeToUnixMs = 11644473600000LL;

SOCKET socketOf(Handle h) {
    return static_cast<SOCKET>(h);
}

// The system's text for a Win32 error, kept until the next call. The console layer reports it
// once and then ends the run, so one buffer is enough.
const char* describeWin32(DWORD code) {
    static char text[256];
    constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    // English like the rest of the trace where the system has it, else the system's language.
    DWORD n = FormatMessageA(kFlags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                             text, sizeof text, nullptr);
    if (n == 0) {
        n = FormatMessageA(kFlags, nullptr, code, 0, text, sizeof text, nullptr);
    }
    if (n == 0) {
        std::snprintf(text, sizeof text, "system error %lu", static_cast<unsigned long>(code));
        return text;
    }
    // The system's texts end in ".\r\n", which would break the report line.
    std::size_t len = n;
    while (len > 0 && (text[len - 1] == '\r' || text[len - 1] == '\n' || text[len - 1] == ' ')) {
        --len;
    }
    text[len] = '\0';
    return text;
}

// WriteFile on the standard handle goes around the C runtime's text mode, so a line's CR LF
// stays CR LF, and nothing is held back in a buffer.
const char* writeAll(DWORD which, const char* data, std::size_t len) {
    const HANDLE h = GetStdHandle(which);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) {
        return describeWin32(h == nullptr ? ERROR_INVALID_HANDLE : GetLastError());
    }
    while (len > 0) {
        const DWORD piece = len > 0x10000000 ? 0x10000000 : static_cast<DWORD>(len);
        DWORD done = 0;
        if (!WriteFile(h, data, piece, &done, nullptr)) {
            return describeWin32(GetLastError());
        }
        if (done == 0) {
            return describeWin32(ERROR_WRITE_FAULT);
        }
        data += done;
        len -= done;
    }
    return nullptr;
}

int lastWsaError() {
    return WSAGetLastError();
}

} // namespace

bool processInit() {
    // Nothing in the program reads or writes through the C runtime's stdio, but a library that
    // does must not turn LF into CR LF either.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void exit(int status) {
    std::exit(status);
}

const char* writeStdout(const char* data, std::size_t len) {
    return writeAll(STD_OUTPUT_HANDLE, data, len);
}

const char* writeStderr(const char* data, std::size_t len) {
    return writeAll(STD_ERROR_HANDLE, data, len);
}

std::ptrdiff_t readStdin(char* buf, std::size_t cap, const char** error) {
    const HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) {
        *error = describeWin32(h == nullptr ? ERROR_INVALID_HANDLE : GetLastError());
        return -1;
    }
    const DWORD want = cap > 0x10000000 ? 0x10000000 : static_cast<DWORD>(cap);
    DWORD got = 0;
    if (ReadFile(h, buf, want, &got, nullptr)) {
        return static_cast<std::ptrdiff_t>(got);
    }
    const DWORD err = GetLastError();
    // A pipe whose writer has gone, or a file read to its end: the input is over.
    if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF || err == ERROR_NO_DATA) {
        return 0;
    }
    *error = describeWin32(err);
    return -1;
}

std::int64_t localTimeMs() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    // The local reading counted as if it were UTC: milliseconds since 1970-01-01 local time.
    FILETIME ft;
    if (!SystemTimeToFileTime(&local, &ft)) {
        return 0;
    }
    ULARGE_INTEGER ticks;
    ticks.LowPart = ft.dwLowDateTime;
    ticks.HighPart = ft.dwHighDateTime;
    return static_cast<std::int64_t>(ticks.QuadPart / 10000) - kFileTimeToUnixMs;
}

void sleepMs(std::uint32_t ms) {
    Sleep(ms);
}

void playWav(const std::string& path) {
    sndPlaySoundA(path.c_str(), SND_ASYNC | SND_NODEFAULT);
}

int lookupFailure(int rc, int /*savedErrno*/) {
    // getaddrinfo reports Winsock numbers already; memory is the one failure outside that range.
    return rc == WSA_NOT_ENOUGH_MEMORY ? wsa::kNoBufs : rc;
}

int lookupService(const std::string& name, std::uint16_t& port) {
    const servent* found = getservbyname(name.c_str(), "tcp");
    if (found == nullptr) {
        return wsa::kInvalid;
    }
    port = ntohs(static_cast<u_short>(found->s_port));
    return 0;
}

int create(bool ipv6, Handle& out) {
    // Overlapped is what socket() gives; no handle inheritance, so a started sound player or any
    // other child cannot keep the connection open.
    const SOCKET s = WSASocketW(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        return lastWsaError();
    }
    // Requests are a few bytes each and wait for their answer: send them at once.
    const BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    out = static_cast<Handle>(s);
    return 0;
}

int connect(Handle h, const Endpoint& ep) {
    if (::connect(socketOf(h), reinterpret_cast<const sockaddr*>(ep.addr), ep.addrLen) == 0) {
        return 0;
    }
    return lastWsaError();
}

int send(Handle h, const char* data, std::size_t len, std::size_t& sent) {
    const int piece = len > INT_MAX ? INT_MAX : static_cast<int>(len);
    const int n = ::send(socketOf(h), data, piece, 0);
    if (n == SOCKET_ERROR) {
        sent = 0;
        return lastWsaError();
    }
    sent = static_cast<std::size_t>(n);
    return 0;
}

int waitReadable(Handle h, int timeoutMs, bool& readable) {
    fd_set reads;
    fd_set errors;
    FD_ZERO(&reads);
    FD_ZERO(&errors);
    FD_SET(socketOf(h), &reads);
    FD_SET(socketOf(h), &errors);
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    // The first argument is ignored by Winsock.
    const int rc = ::select(0, &reads, nullptr, &errors, &tv);
    if (rc == SOCKET_ERROR) {
        readable = false;
        return lastWsaError();
    }
    readable = rc > 0 && (FD_ISSET(socketOf(h), &reads) || FD_ISSET(socketOf(h), &errors));
    return 0;
}

int bytesWaiting(Handle h, std::size_t& count) {
    u_long n = 0;
    if (ioctlsocket(socketOf(h), FIONREAD, &n) != 0) {
        return lastWsaError();
    }
    count = n;
    return 0;
}

int recv(Handle h, char* buf, std::size_t cap, std::size_t& got) {
    const int piece = cap > INT_MAX ? INT_MAX : static_cast<int>(cap);
    const int n = ::recv(socketOf(h), buf, piece, 0);
    if (n == SOCKET_ERROR) {
        got = 0;
        return lastWsaError();
    }
    got = static_cast<std::size_t>(n);
    return 0;
}

int shutdownSend(Handle h) {
    return ::shutdown(socketOf(h), SD_SEND) == 0 ? 0 : lastWsaError();
}

void close(Handle h) {
    closesocket(socketOf(h));
}

} // namespace sys
