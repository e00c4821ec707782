#include "initcomm.hpp"

#include "link/transport.hpp"
#include "platform/int_text.hpp"
#include "platform/platform.hpp"
#include "status.hpp"

#include <string>

#ifndef BOARDMON_DEFAULT_ADDRESS
#define BOARDMON_DEFAULT_ADDRESS "127.0.0.1"
#endif

namespace {
constexpr const char* kDefaultAddress = BOARDMON_DEFAULT_ADDRESS;
constexpr const char* kDefaultPort = "8888";
} // namespace

void InitializeComm() {
    plat::conWrite(std::string("Enter Arduino IP Address: [") + kDefaultAddress + "]: ");
    std::string address = plat::conReadLine();
    if (address.empty()) {
        address = kDefaultAddress;
    }

    std::string port;
    std::int32_t portNumber = 0;
    do {
        plat::conWrite("Enter the Arduino's TCP port[8888]: ");
        port = plat::conReadLine();
        if (port.empty()) {
            port = kDefaultPort;
        }
    } while (!plat::tryParseInt32(port, portNumber));

    tcp = new TTCPBlockSocket();
    tcp->OnStatus = &TMyEventObject::MyStatus;
    try {
        tcp->Connect(address, port);
    } catch (...) {
        plat::fatalStop("Error connecting to Arduino via TCP.");
    }
    plat::conWriteLine("On exit from initcomm, lasterror=" + std::to_string(tcp->LastError));
}
