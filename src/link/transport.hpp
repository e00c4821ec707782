// Payloads over the connection: one packet per CR LF terminated line.
#pragma once

#include "platform/tcp_socket.hpp"

#include <string>

// The program's one connection; created by start-up, closed and freed by the shutdown.
extern TTCPBlockSocket* tcp;

// Every receive waits at most this long for each arrival of data.
inline constexpr int kRecvTimeoutMs = 1000;

// Sends payload s as one packet.
void tlk_sendStr(const std::string& s);
// Waits for one packet and returns its payload in s; false, with s empty, when none came or it
// was refused.
bool tlk_getStr(std::string& s);
// Writes packet and CR LF with one send.
void tlk_i_xmitPacket(const std::string& packet);
// Reads one line into packet (empty after a time-out or a closed connection).
bool tlk_i_recvPacket(std::string& packet);
