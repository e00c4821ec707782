#include "sys_fake.hpp"

#include <algorithm>
#include <cstring>

namespace sysfake {

namespace {

using Kind = Incoming::Kind;

void checkHandle(sys::Handle h, const char* what) {
    if (h == sys::kNoHandle || h != state().openHandle) {
        throw Misuse(std::string(what) + " on a handle that is not open");
    }
}

// Waiting bytes at the head of the script are in the receive buffer by now.
void takeWaiting() {
    State& s = state();
    while (!s.incoming.empty() && s.incoming.front().kind == Kind::Waiting) {
        s.buffered += s.incoming.front().bytes;
        s.incoming.pop_front();
    }
}

bool headIs(Kind kind) {
    const State& s = state();
    return !s.incoming.empty() && s.incoming.front().kind == kind;
}

} // namespace

Incoming waiting(std::string bytes) {
    return {Kind::Waiting, std::move(bytes)};
}
Incoming arrives(std::string bytes) {
    return {Kind::Arrives, std::move(bytes)};
}
Incoming timeOut() {
    return {Kind::TimeOut, {}};
}
Incoming peerClosed() {
    return {Kind::PeerClosed, {}};
}
Incoming recvFails(int code, std::size_t claimsWaiting) {
    return {Kind::RecvFails, {}, code, claimsWaiting};
}
Incoming waitFails(int code) {
    return {Kind::WaitFails, {}, code};
}
Incoming endless(std::size_t perRead) {
    return {Kind::Endless, {}, 0, perRead};
}

SendStep sendAccepts(std::size_t bytes) {
    return {0, bytes};
}
SendStep sendFails(int code) {
    return {code, 0};
}

State& state() {
    static State instance;
    return instance;
}

void reset() {
    state() = State{};
}

void script(std::initializer_list<Incoming> steps) {
    state().incoming.insert(state().incoming.end(), steps.begin(), steps.end());
}

} // namespace sysfake

namespace sys {

using sysfake::Incoming;
using sysfake::state;
using Kind = Incoming::Kind;

bool processInit() {
    return state().socketLibraryStarts;
}

void exit(int status) {
    throw sysfake::Exited{status};
}

const char* writeStdout(const char* data, std::size_t len) {
    if (state().stdoutError != nullptr) {
        return state().stdoutError;
    }
    state().stdoutData.append(data, len);
    return nullptr;
}

const char* writeStderr(const char* data, std::size_t len) {
    state().stderrData.append(data, len);
    return nullptr;
}

std::ptrdiff_t readStdin(char* buf, std::size_t cap, const char** error) {
    sysfake::State& s = state();
    if (s.stdinError != nullptr) {
        *error = s.stdinError;
        return -1;
    }
    const std::size_t n = std::min(cap, s.stdinData.size() - s.stdinPos);
    std::memcpy(buf, s.stdinData.data() + s.stdinPos, n);
    s.stdinPos += n;
    return static_cast<std::ptrdiff_t>(n);
}

std::int64_t localTimeMs() {
    return state().clockMs;
}

void sleepMs(std::uint32_t ms) {
    state().sleeps.push_back(ms);
    state().clockMs += ms;
}

void playWav(const std::string& path) {
    state().played.push_back(path);
}

int resolveHost(const std::string& host, std::uint16_t port, Endpoint& out) {
    sysfake::State& s = state();
    s.calls.push_back("resolve " + host + " " + std::to_string(port));
    if (s.resolveResult != 0) {
        return s.resolveResult;
    }
    out.ipv6 = s.resolvedIpv6;
    out.text = s.resolvedText;
    out.addrLen = s.resolvedIpv6 ? 28 : 16;
    return 0;
}

int lookupService(const std::string& name, std::uint16_t& port) {
    const auto found = state().services.find(name);
    if (found == state().services.end()) {
        return 10022;
    }
    port = found->second;
    return 0;
}

int create(bool ipv6, Handle& out) {
    sysfake::State& s = state();
    s.calls.push_back(ipv6 ? "create IPv6" : "create IPv4");
    if (s.createResult != 0) {
        return s.createResult;
    }
    if (s.openHandle != kNoHandle) {
        throw sysfake::Misuse("a second socket while one is open");
    }
    s.openHandle = s.nextHandle++;
    out = s.openHandle;
    return 0;
}

int connect(Handle h, const Endpoint& /*ep*/) {
    sysfake::checkHandle(h, "connect");
    state().calls.push_back("connect");
    return state().connectResult;
}

int send(Handle h, const char* data, std::size_t len, std::size_t& sent) {
    sysfake::checkHandle(h, "send");
    sysfake::State& s = state();
    s.sendSizes.push_back(len);
    sent = len;
    if (!s.sends.empty()) {
        const sysfake::SendStep step = s.sends.front();
        s.sends.pop_front();
        if (step.code != 0) {
            sent = 0;
            return step.code;
        }
        sent = std::min(len, step.accept);
    }
    s.sent.append(data, sent);
    return 0;
}

int waitReadable(Handle h, int timeoutMs, bool& readable) {
    sysfake::checkHandle(h, "wait");
    sysfake::State& s = state();
    s.waitTimeouts.push_back(timeoutMs);
    sysfake::takeWaiting();
    readable = true;
    if (!s.buffered.empty() || s.incoming.empty()) {
        readable = !s.buffered.empty();
        return 0;
    }
    Incoming& head = s.incoming.front();
    switch (head.kind) {
    case Kind::Arrives:
        s.buffered += head.bytes;
        s.incoming.pop_front();
        return 0;
    case Kind::TimeOut:
        readable = false;
        s.incoming.pop_front();
        return 0;
    case Kind::WaitFails: {
        const int code = head.code;
        readable = false;
        s.incoming.pop_front();
        return code;
    }
    case Kind::Waiting:
    case Kind::PeerClosed:
    case Kind::RecvFails:
    case Kind::Endless:
        return 0;
    }
    return 0;
}

int bytesWaiting(Handle h, std::size_t& count) {
    sysfake::checkHandle(h, "bytesWaiting");
    sysfake::takeWaiting();
    count = state().buffered.size();
    if (count == 0 && (sysfake::headIs(Kind::Endless) || sysfake::headIs(Kind::RecvFails))) {
        count = state().incoming.front().perRead;
    }
    return 0;
}

int recv(Handle h, char* buf, std::size_t cap, std::size_t& got) {
    sysfake::checkHandle(h, "recv");
    sysfake::State& s = state();
    ++s.recvCalls;
    got = 0;
    sysfake::takeWaiting();
    if (!s.buffered.empty()) {
        got = std::min(cap, s.buffered.size());
        std::memcpy(buf, s.buffered.data(), got);
        s.buffered.erase(0, got);
        s.received += got;
        return 0;
    }
    if (s.incoming.empty()) {
        throw sysfake::Misuse("receive with nothing coming would block for ever");
    }
    Incoming& head = s.incoming.front();
    switch (head.kind) {
    case Kind::PeerClosed:
        return 0;
    case Kind::RecvFails: {
        const int code = head.code;
        s.incoming.pop_front();
        return code;
    }
    case Kind::Endless:
        got = std::min(cap, head.perRead);
        std::memset(buf, 'A', got);
        s.received += got;
        return 0;
    case Kind::Waiting:
    case Kind::Arrives:
    case Kind::TimeOut:
    case Kind::WaitFails:
        break;
    }
    throw sysfake::Misuse("receive before waiting for data that has not arrived");
}

int shutdownSend(Handle h) {
    sysfake::checkHandle(h, "shutdown");
    state().calls.push_back("shutdown");
    return state().shutdownResult;
}

void close(Handle h) {
    sysfake::checkHandle(h, "close");
    state().calls.push_back("close");
    state().openHandle = kNoHandle;
}

} // namespace sys
