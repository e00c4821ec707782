#include "status.hpp"

#include "platform/platform.hpp"

#include <array>

TMyEventObject* MyCallback = nullptr;

const char* reasonName(THookSocketReason reason) {
    static constexpr std::array<const char*, 14> kNames{
        "HR_ResolvingBegin", "HR_ResolvingEnd", "HR_SocketCreate", "HR_SocketClose", "HR_Bind",
        "HR_Connect",        "HR_CanRead",      "HR_CanWrite",     "HR_Listen",      "HR_Accept",
        "HR_ReadCount",      "HR_WriteCount",   "HR_Wait",         "HR_Error",
    };
    return kNames[reason];
}

void TMyEventObject::MyStatus(TTCPBlockSocket* /*Sender*/, THookSocketReason Reason,
                              const std::string& Value) {
    std::string line = "  ";
    line += reasonName(Reason);
    line += ": ";
    line += Value;
    plat::conWriteLine(line);
}
