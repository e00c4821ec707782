// The process entry: start-up, the monitor, and the end of every run that nothing else ends.
#include "initcomm.hpp"
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
