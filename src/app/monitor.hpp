// The main body after start-up.
#pragma once

// Polls the board while its switch reads on; when it reads off, turns the LED off, closes and
// frees tcp and returns. Any failed command ends the process inside the command.
void runMonitor();
