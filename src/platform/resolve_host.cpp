// Host lookup. getaddrinfo is the same call on every system, so one resolveHost serves them all;
// only its failure codes differ, and each system maps its own (lookupFailure).
#include "sys.hpp"
#include "wsa_errors.hpp"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cerrno>
#include <cstring>

namespace sys {

int resolveHost(const std::string& host, std::uint16_t port, Endpoint& out) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    const std::string service = std::to_string(port);
    addrinfo* list = nullptr;
    // IPv4 first; IPv6 only when there is no IPv4 address.
    hints.ai_family = AF_INET;
    const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    const int savedErrno = errno;
    if (rc != 0) {
        hints.ai_family = AF_INET6;
        list = nullptr;
        if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0) {
            return lookupFailure(rc, savedErrno);
        }
    }
    if (list == nullptr || list->ai_addrlen > sizeof(out.addr)) {
        if (list != nullptr) {
            freeaddrinfo(list);
        }
        return wsa::kHostNotFound;
    }
    std::memcpy(out.addr, list->ai_addr, list->ai_addrlen);
    out.addrLen = static_cast<int>(list->ai_addrlen);
    out.ipv6 = list->ai_family == AF_INET6;
    char text[INET6_ADDRSTRLEN] = {};
    if (out.ipv6) {
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(list->ai_addr)->sin6_addr, text,
                  sizeof text);
    } else {
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr, text,
                  sizeof text);
    }
    out.text = text;
    freeaddrinfo(list);
    return 0;
}

} // namespace sys
