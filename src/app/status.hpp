// The status handler: one trace line per socket report.
#pragma once

#include "platform/tcp_socket.hpp"

#include <string>

class TMyEventObject {
public:
    // Writes "  <reason name>: <value>". Reads neither an object nor Sender, so it is bound
    // without any instance.
    static void MyStatus(TTCPBlockSocket* Sender, THookSocketReason Reason,
                         const std::string& Value);
};

// Never created: the handler needs no object.
extern TMyEventObject* MyCallback;

// The printed name of a reason ("HR_Connect").
const char* reasonName(THookSocketReason reason);
