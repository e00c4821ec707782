#include "sound.hpp"

#include "platform/platform.hpp"

#include <cmath>

bool initialized = false;
double nextTime = 0.0;

namespace {

// Whole milliseconds from b to a. Readings are whole milliseconds, so rounding only removes
// the noise of the day-fraction form; an exact millisecond is never taken for less.
long long msBetween(double a, double b) {
    return std::llround((a - b) * plat::kMsPerDay);
}

} // namespace

void playSound() {
    plat::conWriteLine("@playSound");
    if (!initialized) {
        plat::conWriteLine("  initializing");
        initialized = true;
        nextTime = plat::nowDateTime();
    }
    const double now = plat::nowDateTime();
    // Within a millisecond of nextTime counts as equal, and equal or earlier plays nothing.
    if (msBetween(now, nextTime) < 1) {
        return;
    }
    plat::conWriteLine("  ok to play the sound");
    plat::playWavAsync(kAlarmFile);
    nextTime = plat::nowDateTime() + MINUTESBETWEENSOUND * plat::kOneMinute;
}
