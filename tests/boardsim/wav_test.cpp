#include "errors.hpp"
#include "temp_files.hpp"
#include "wav.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace boardsim {
namespace {

namespace fs = std::filesystem;
using boardsim_test::entriesIn;
using boardsim_test::readFile;
using boardsim_test::TempDir;

std::uint32_t le32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

std::uint16_t le16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      (static_cast<unsigned char>(b[at + 1]) << 8));
}

std::int16_t sample(const std::string& b, std::size_t index) {
    return static_cast<std::int16_t>(le16(b, 44 + 2 * index));
}

TEST(AlarmWav, HeaderDescribesSixTenthsOfASecondOf16BitMonoPcm) {
    const std::string w = alarmWav();
    ASSERT_GE(w.size(), 44U);
    EXPECT_EQ(w.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(w, 4), w.size() - 8);
    EXPECT_EQ(w.substr(8, 4), "WAVE");
    EXPECT_EQ(w.substr(12, 4), "fmt ");
    EXPECT_EQ(le32(w, 16), 16U);
    EXPECT_EQ(le16(w, 20), 1U); // PCM
    EXPECT_EQ(le16(w, 22), 1U); // mono
    const std::uint32_t rate = le32(w, 24);
    EXPECT_GE(rate, 8000U);
    EXPECT_EQ(le32(w, 28), rate * 2); // bytes per second
    EXPECT_EQ(le16(w, 32), 2U);       // block align
    EXPECT_EQ(le16(w, 34), 16U);      // bits per sample
    EXPECT_EQ(w.substr(36, 4), "data");
    EXPECT_EQ(le32(w, 40), w.size() - 44);
    const double seconds = static_cast<double>(le32(w, 40)) / 2.0 / rate;
    EXPECT_GT(seconds, 0.5);
    EXPECT_LT(seconds, 0.7);
}

TEST(AlarmWav, AlternatesTwoAudibleTones) {
    const std::string w = alarmWav();
    const std::uint32_t rate = le32(w, 24);
    const std::size_t samples = le32(w, 40) / 2;
    // Zero crossings count the pitch of each tenth of a second.
    std::vector<int> crossings;
    int peak = 0;
    for (std::size_t start = 0; start + rate / 10 <= samples; start += rate / 10) {
        int n = 0;
        for (std::size_t i = start + 1; i < start + rate / 10; ++i) {
            n += (sample(w, i - 1) < 0) != (sample(w, i) < 0);
            peak = std::max(peak, std::abs(static_cast<int>(sample(w, i))));
        }
        crossings.push_back(n);
    }
    ASSERT_GE(crossings.size(), 4U);
    EXPECT_GT(peak, 8000);
    for (std::size_t i = 2; i < crossings.size(); ++i) {
        EXPECT_NEAR(crossings[i], crossings[i - 2], 2) << "tenth " << i;
    }
    EXPECT_GT(std::abs(crossings[0] - crossings[1]), 10);
}

TEST(WriteAlarm, CreatesMissingDirectoriesAndLeavesNoTemporaryFile) {
    const TempDir dir;
    const fs::path target = dir.path() / "sounds" / "alarms" / "klaxon.wav";
    EXPECT_EQ(writeAlarm(target.string()), AlarmWrite::Written);
    EXPECT_EQ(readFile(target), alarmWav());
    EXPECT_EQ(entriesIn(target.parent_path()), 1);
}

TEST(WriteAlarm, NeverReplacesAnExistingFile) {
    const TempDir dir;
    const fs::path target = dir.path() / "klaxon.wav";
    std::ofstream(target) << "someone else's sound";
    EXPECT_EQ(writeAlarm(target.string()), AlarmWrite::AlreadyThere);
    EXPECT_EQ(readFile(target), "someone else's sound");
    EXPECT_EQ(entriesIn(dir.path()), 1);
}

TEST(WriteAlarm, ParentThatIsAFileIsARuntimeFailure) {
    const TempDir dir;
    std::ofstream(dir.path() / "plain") << "x";
    EXPECT_THROW(writeAlarm((dir.path() / "plain" / "klaxon.wav").string()), RuntimeFailure);
}

} // namespace
} // namespace boardsim
