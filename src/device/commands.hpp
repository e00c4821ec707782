// The board's commands. Each sends one request, waits for its answer and checks that the answer
// carries the request's code; any failure ends the process with status 0.
#pragma once

bool isSwitchOn();
bool isMotionDetected();
void ledOn();
void ledOff();
void sendAliveMsg();
