// The alarm sound the monitor plays: a short two-tone WAV that boardsim can put in place for
// demos and tests.
#pragma once

#include <cstdint>
#include <string>

namespace boardsim {

inline constexpr std::uint32_t kAlarmRate = 8000;
inline constexpr std::uint32_t kAlarmSamples = kAlarmRate * 6 / 10; // 0.6 s

// The whole file: RIFF/WAVE header and PCM 16-bit mono samples alternating between two tones.
std::string alarmWav();

enum class AlarmWrite { Written, AlreadyThere };

// Creates the parent directory when missing and writes the alarm to a temporary file beside
// path, then moves it in place only if nothing is at path yet, so an existing file (or one that
// a concurrent writer just made) is never replaced. Throws RuntimeFailure.
AlarmWrite writeAlarm(const std::string& path);

} // namespace boardsim
