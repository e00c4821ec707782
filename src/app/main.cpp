// The process entry and the monitor's main body.
#include "device/commands.hpp"
#include "device/sound.hpp"
#include "initcomm.hpp"
#include "link/transport.hpp"
#include "monitor.hpp"
#include "platform/platform.hpp"

#include <exception>

int main() {
    try {
        plat::processStart();
        InitializeComm();
        runMonitor();
        plat::exitProcess(0);
    } catch (const std::exception& e) {
        plat::uncaughtError(e.what());
    } catch (...) {
        plat::uncaughtError("unknown error");
    }
}
