// The alarm's once-a-minute throttle, on a clock the test sets.
#include "capture.hpp"
#include "device/sound.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>

namespace {

using testing_support::ConsoleCapture;
using testing_support::lines;

constexpr double kSecond = 1.0 / 86400.0;
constexpr double kMs = 1.0 / 86400000.0;
// 2026-12-11 14:00:00.000 as a date-time.
constexpr double kStart = 46367.0 + 14.0 / 24.0;

class Alarm : public testing::Test {
protected:
    void SetUp() override {
        initialized = false;
        nextTime = 0.0;
        plat::seams().clock = [this] {
            if (!queued_.empty()) {
                const double t = queued_.front();
                queued_.pop_front();
                return t;
            }
            return now_;
        };
        plat::seams().sound = [this](const std::string& path) { played_.push_back(path); };
    }
    void TearDown() override {
        plat::seams().clock = nullptr;
        plat::seams().sound = nullptr;
    }

    // One call at `at`; returns what it printed.
    std::string callAt(double at) {
        now_ = at;
        playSound();
        return out_.take();
    }

    double now_ = kStart;
    std::deque<double> queued_;
    std::vector<std::string> played_;
    ConsoleCapture out_;
};

const std::string kQuiet = lines({"@playSound"});
const std::string kPlays = lines({"@playSound", "  ok to play the sound"});

TEST_F(Alarm, FirstCallArmsSecondPlaysThenOncePerMinute) {
    EXPECT_EQ(callAt(kStart), lines({"@playSound", "  initializing"}));
    EXPECT_TRUE(played_.empty());

    EXPECT_EQ(callAt(kStart + kSecond), kPlays);
    EXPECT_EQ(played_, std::vector<std::string>{"c:/tmp/klaxon-short.wav"});
    const double sound = kStart + kSecond;
    EXPECT_NEAR(nextTime, sound + 60 * kSecond, kMs / 10);

    EXPECT_EQ(callAt(sound + 30 * kSecond), kQuiet);
    EXPECT_EQ(callAt(sound + 59 * kSecond), kQuiet);
    EXPECT_EQ(played_.size(), 1U);
    EXPECT_EQ(callAt(sound + 61 * kSecond), kPlays);
    EXPECT_EQ(played_.size(), 2U);
}

TEST_F(Alarm, FirstCallPlaysWhenTheClockMovesBetweenItsReadings) {
    queued_ = {kStart, kStart + kMs};
    EXPECT_EQ(callAt(kStart + kMs),
              lines({"@playSound", "  initializing", "  ok to play the sound"}));
    EXPECT_EQ(played_.size(), 1U);
}

TEST_F(Alarm, ReadingsWithinAMillisecondOfNextTimeCountAsEqual) {
    callAt(kStart);
    callAt(kStart + kSecond);
    const double due = nextTime;
    ASSERT_EQ(played_.size(), 1U);
    EXPECT_EQ(callAt(due - kMs), kQuiet);
    EXPECT_EQ(callAt(due), kQuiet);
    EXPECT_EQ(callAt(due + kMs / 2), kQuiet);
    EXPECT_EQ(played_.size(), 1U);
    // One whole millisecond past is late enough.
    EXPECT_EQ(callAt(due + kMs), kPlays);
    EXPECT_EQ(played_.size(), 2U);
}

TEST_F(Alarm, ClockSetBackWaitsSetForwardPlays) {
    callAt(kStart);
    callAt(kStart + kSecond);
    const double due = nextTime;
    // An hour back: quiet until the clock passes the old due time again.
    EXPECT_EQ(callAt(due - 3600 * kSecond), kQuiet);
    EXPECT_EQ(callAt(due - 120 * kSecond), kQuiet);
    EXPECT_EQ(nextTime, due);
    // A day forward: due at once.
    EXPECT_EQ(callAt(due + 1.0), kPlays);
    EXPECT_NEAR(nextTime, due + 1.0 + 60 * kSecond, kMs / 10);
}

TEST_F(Alarm, SoundThatCannotPlayStillHoldsTheNextOneBack) {
    // The real service with a file that is not there: nothing printed, nothing raised.
    plat::seams().sound = nullptr;
    callAt(kStart);
    EXPECT_EQ(callAt(kStart + kSecond), kPlays);
    EXPECT_NEAR(nextTime, kStart + 61 * kSecond, kMs / 10);
    EXPECT_EQ(callAt(kStart + 40 * kSecond), kQuiet);
}

TEST(Clock, DateTimeFromMilliseconds) {
    EXPECT_EQ(plat::dateTimeFromUnixMs(0), 25569.0);
    EXPECT_EQ(plat::dateTimeFromUnixMs(86400000LL * 20798 + 43200000), 46367.5);
    EXPECT_EQ(plat::dateTimeFromUnixMs(-43200000), 25568.5);
    // A real reading lies in this century and is whole milliseconds.
    const double now = plat::nowDateTime();
    EXPECT_GT(now, 45000.0);
    EXPECT_LT(now, 80000.0);
    const double ms = (now - std::floor(now)) * 86400000.0;
    EXPECT_NEAR(ms, std::round(ms), 0.01);
}

} // namespace
