// Start-up: the operator's two answers and the one connection.
#pragma once

// Asks for the board's address and port, creates tcp with the status handler attached and
// makes one connection attempt. Returns whatever its outcome; ends the process (status 0)
// only when something other than a socket failure escapes the attempt.
void InitializeComm();
