// Windows Sockets error numbers, which boardmon reports on every system, and their texts.
#pragma once

#include <string>

namespace wsa {

enum : int {
    kInterrupted = 10004,
    kBadHandle = 10009,
    kAccess = 10013,
    kFault = 10014,
    kInvalid = 10022,
    kTooManyFiles = 10024,
    kWouldBlock = 10035,
    kInProgress = 10036,
    kAlready = 10037,
    kNotSocket = 10038,
    kMessageSize = 10040,
    kAfNoSupport = 10047,
    kAddrInUse = 10048,
    kAddrNotAvail = 10049,
    kNetDown = 10050,
    kNetUnreach = 10051,
    kNetReset = 10052,
    kConnAborted = 10053,
    kConnReset = 10054,
    kNoBufs = 10055,
    kIsConn = 10056,
    kNotConn = 10057,
    kShutdown = 10058,
    kTimedOut = 10060,
    kConnRefused = 10061,
    kHostDown = 10064,
    kHostUnreach = 10065,
    kHostNotFound = 11001,
    kTryAgain = 11002,
    kNoRecovery = 11003,
    kNoData = 11004,
};

// The fixed English description of a code; "Other Winsock error (N)" for a code outside the table.
std::string describe(int code);

} // namespace wsa
