#include "commands.hpp"

#include "link/transport.hpp"
#include "platform/platform.hpp"

#include <string>

namespace {

// One exchange: request code out, an answer with the same code back. Returns the answer.
std::string exchange(const char* name, char code) {
    std::string answer;
    plat::conWriteLine(std::string("@") + name);
    tlk_sendStr(std::string(1, code));
    if (!tlk_getStr(answer)) {
        plat::fatalStop("tlk_getStr returned false");
    }
    if (answer.empty() || answer[0] != code) {
        plat::fatalStop(std::string(name) + " received bad response");
    }
    return answer;
}

// A query's value: the answer's second character, "T" or "t" for true.
bool query(const char* name, char code) {
    const std::string answer = exchange(name, code);
    const bool result = answer.size() >= 2 && (answer[1] == 'T' || answer[1] == 't');
    plat::conWriteLine(std::string("@") + name + ": returns " + (result ? "1" : "0"));
    return result;
}

} // namespace

bool isSwitchOn() {
    return query("isSwitchOn", '1');
}

bool isMotionDetected() {
    return query("isMotionDetected", '2');
}

void ledOn() {
    exchange("ledOn", '3');
}

void ledOff() {
    exchange("ledOff", '4');
}

void sendAliveMsg() {
    exchange("sendAliveMsg", '5');
}
