#include "monitor.hpp"

#include "device/commands.hpp"
#include "device/sound.hpp"
#include "link/transport.hpp"
#include "platform/platform.hpp"

namespace {
constexpr std::uint32_t kPauseMs = 1000;
}

void runMonitor() {
    while (isSwitchOn()) {
        if (isMotionDetected()) {
            ledOn();
            playSound();
        } else {
            ledOff();
        }
        sendAliveMsg();
        plat::sleepMs(kPauseMs);
    }
    ledOff();
    tcp->CloseSocket();
    delete tcp;
    tcp = nullptr;
}
