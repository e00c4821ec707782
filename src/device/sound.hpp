// The alarm: a WAV file started at most once every MINUTESBETWEENSOUND minutes.
#pragma once

inline constexpr int MINUTESBETWEENSOUND = 1;
inline constexpr const char* kAlarmFile = "c:/tmp/klaxon-short.wav";

// The throttle's state, kept for the whole run: armed, and the moment a reading must pass for
// the next sound.
extern bool initialized;
extern double nextTime;

// The first call arms the throttle; a later call past nextTime starts the sound without
// waiting for it and moves nextTime a minute on.
void playSound();
