// The system clock behind the alarm's throttle: local wall-clock time in milliseconds since
// 1970-01-01 local, on every system.
#include "platform/sys.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ctime>

namespace {

// Seconds since 1970-01-01 of the broken-down time, read as if it were UTC.
std::int64_t secondsOf(const std::tm& t) {
    // Days from civil (proleptic Gregorian), so the test needs no system call of its own.
    const std::int64_t y = t.tm_year + 1900 - (t.tm_mon < 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t m = t.tm_mon + 1;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + t.tm_mday - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

std::int64_t utcNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST(LocalClock, IsTheUtcClockShiftedByTheLocalZoneInMilliseconds) {
    const std::time_t now = std::time(nullptr);
    // Copied at once: both calls may share one buffer.
    const std::tm local = *std::localtime(&now);
    const std::tm utc = *std::gmtime(&now);
    const std::int64_t zoneMs = (secondsOf(local) - secondsOf(utc)) * 1000;

    const std::int64_t before = utcNowMs();
    const std::int64_t reading = sys::localTimeMs();
    const std::int64_t after = utcNowMs();

    // Two clocks with their own ticks (Windows may step in 16 ms): allow for that, but not for
    // whole seconds, a wrong epoch or a reading in UTC where the zone is not.
    EXPECT_GE(reading, before + zoneMs - 50);
    EXPECT_LE(reading, after + zoneMs + 50);
}

} // namespace
