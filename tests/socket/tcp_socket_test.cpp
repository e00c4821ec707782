// The socket class over the scripted system layer: every status report in its order, LastError,
// and what reaches the wire, for each path of Connect, SendString, RecvString and CloseSocket.
#include "platform/tcp_socket.hpp"
#include "sys_fake.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Reports = std::vector<std::string>;
using sysfake::arrives;
using sysfake::Incoming;
using sysfake::state;
using sysfake::waiting;

Reports gReports;

std::string nameOf(THookSocketReason reason) {
    static const std::array<const char*, 14> kNames{
        "HR_ResolvingBegin", "HR_ResolvingEnd", "HR_SocketCreate", "HR_SocketClose", "HR_Bind",
        "HR_Connect",        "HR_CanRead",      "HR_CanWrite",     "HR_Listen",      "HR_Accept",
        "HR_ReadCount",      "HR_WriteCount",   "HR_Wait",         "HR_Error",
    };
    return kNames.at(reason);
}

void record(TTCPBlockSocket* /*sender*/, THookSocketReason reason, const std::string& value) {
    gReports.push_back(nameOf(reason) + ": " + value);
}

Reports take() {
    return std::exchange(gReports, {});
}

const std::string kTimedOut = "HR_Error: 10060,Connection timed out";
const std::string kReset = "HR_Error: 10054,Connection reset by peer";
const std::string kTooLong = "HR_Error: 10040,Message too long";
const std::string kCanRead = "HR_CanRead: ";
const std::string kClose = "HR_SocketClose: ";

std::string readCount(std::size_t n) {
    return "HR_ReadCount: " + std::to_string(n);
}

class SocketTest : public testing::Test {
protected:
    SocketTest() {
        sysfake::reset();
        gReports.clear();
        sock.OnStatus = &record;
    }

    // A connection as start-up makes it, with its reports forgotten.
    void connect() {
        sock.Connect("127.0.0.1", "8888");
        ASSERT_EQ(sock.LastError, 0);
        take();
    }

    // Held apart: the socket's destructor may throw, which a fixture's destructor must not.
    std::unique_ptr<TTCPBlockSocket> owned = std::make_unique<TTCPBlockSocket>();
    TTCPBlockSocket& sock = *owned;
};

// --- Connect ---

struct ConnectCase {
    const char* name;
    std::function<void(sysfake::State&)> setup;
    std::string ip;
    std::string port;
    Reports reports;
    int lastError;
    std::vector<std::string> calls;
};

void PrintTo(const ConnectCase& c, std::ostream* os) {
    *os << c.name;
}

class Connect : public SocketTest, public testing::WithParamInterface<ConnectCase> {};

TEST_P(Connect, ReportsInOrder) {
    const ConnectCase& c = GetParam();
    if (c.setup) {
        c.setup(state());
    }
    sock.Connect(c.ip, c.port);
    EXPECT_EQ(take(), c.reports);
    EXPECT_EQ(sock.LastError, c.lastError);
    EXPECT_EQ(state().calls, c.calls);
}

Reports connectedAs(const std::string& typed, const std::string& resolved,
                    const std::string& family = "IPv4") {
    return {"HR_ResolvingBegin: " + typed, "HR_ResolvingEnd: " + resolved,
            "HR_SocketCreate: " + family, "HR_Connect: " + typed};
}

// The port text is refused before any lookup.
ConnectCase badPort(const char* name, const std::string& port) {
    const std::string typed = "127.0.0.1:" + port;
    return {name,
            nullptr,
            "127.0.0.1",
            port,
            {"HR_ResolvingBegin: " + typed, "HR_ResolvingEnd: 0.0.0.0:0",
             "HR_Error: 10022,Invalid argument", "HR_Connect: " + typed},
            10022,
            {}};
}

// A port text that names the port `number`, passed on exactly as typed.
ConnectCase goodPort(const char* name, const std::string& port, int number) {
    const std::string n = std::to_string(number);
    return {name,
            nullptr,
            "127.0.0.1",
            port,
            connectedAs("127.0.0.1:" + port, "127.0.0.1:" + n),
            0,
            {"resolve 127.0.0.1 " + n, "create IPv4", "connect"}};
}

INSTANTIATE_TEST_SUITE_P(
    Table, Connect,
    testing::Values(
        goodPort("success", "8888", 8888),
        ConnectCase{"ipv6",
                    [](sysfake::State& s) {
                        s.resolvedText = "::1";
                        s.resolvedIpv6 = true;
                    },
                    "::1",
                    "8888",
                    connectedAs("::1:8888", "::1:8888", "IPv6"),
                    0,
                    {"resolve ::1 8888", "create IPv6", "connect"}},
        ConnectCase{"resolution fails",
                    [](sysfake::State& s) { s.resolveResult = 11001; },
                    "no.such.host",
                    "8888",
                    {"HR_ResolvingBegin: no.such.host:8888", "HR_ResolvingEnd: 0.0.0.0:0",
                     "HR_Error: 11001,Host not found", "HR_Connect: no.such.host:8888"},
                    11001,
                    {"resolve no.such.host 8888"}},
        // The creation failure first, then the attempt on no socket.
        ConnectCase{"create fails",
                    [](sysfake::State& s) { s.createResult = 10024; },
                    "127.0.0.1",
                    "8888",
                    {"HR_ResolvingBegin: 127.0.0.1:8888", "HR_ResolvingEnd: 127.0.0.1:8888",
                     "HR_Error: 10024,Too many open files", "HR_SocketCreate: IPv4",
                     "HR_Error: 10038,Socket operation on non-socket",
                     "HR_Connect: 127.0.0.1:8888"},
                    10038,
                    {"resolve 127.0.0.1 8888", "create IPv4"}},
        ConnectCase{"refused",
                    [](sysfake::State& s) { s.connectResult = 10061; },
                    "127.0.0.1",
                    "8888",
                    {"HR_ResolvingBegin: 127.0.0.1:8888", "HR_ResolvingEnd: 127.0.0.1:8888",
                     "HR_SocketCreate: IPv4", "HR_Error: 10061,Connection refused",
                     "HR_Connect: 127.0.0.1:8888"},
                    10061,
                    {"resolve 127.0.0.1 8888", "create IPv4", "connect"}},
        ConnectCase{"address with a NUL is never looked up",
                    nullptr,
                    std::string("127.0.0.1\0x", 11),
                    "8888",
                    {"HR_ResolvingBegin: " + std::string("127.0.0.1\0x", 11) + ":8888",
                     "HR_ResolvingEnd: 0.0.0.0:0", "HR_Error: 11001,Host not found",
                     "HR_Connect: " + std::string("127.0.0.1\0x", 11) + ":8888"},
                    11001,
                    {}},
        goodPort("leading blank", " 8888", 8888), goodPort("plus", "+8888", 8888),
        goodPort("dollar hex", "$22B8", 8888), goodPort("0x hex", "0x22b8", 8888),
        goodPort("binary", "%1", 1), goodPort("octal", "&17", 15), goodPort("zero", "0", 0),
        goodPort("highest", "65535", 65535),
        ConnectCase{"service name",
                    [](sysfake::State& s) { s.services["http"] = 80; },
                    "127.0.0.1",
                    "http",
                    connectedAs("127.0.0.1:http", "127.0.0.1:80"),
                    0,
                    {"resolve 127.0.0.1 80", "create IPv4", "connect"}},
        badPort("negative", "-1"), badPort("above 65535", "70000"),
        badPort("most negative", "-2147483648"), badPort("unknown service", "nosuch"),
        badPort("empty", ""), badPort("NUL after digits", std::string("88\0", 3))),
    [](const testing::TestParamInfo<ConnectCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return n;
    });

// --- SendString ---

TEST_F(SocketTest, SendsALineInOnePiece) {
    connect();
    sock.SendString("5041\r\n");
    EXPECT_EQ(take(), Reports{"HR_WriteCount: 6"});
    EXPECT_EQ(state().sent, "5041\r\n");
    EXPECT_EQ(sock.LastError, 0);
}

TEST_F(SocketTest, SendsLongDataInPiecesOfAtMost64KiB) {
    connect();
    std::string data(150000, 'x');
    data[70000] = 'y';
    sock.SendString(data);
    EXPECT_EQ(take(),
              (Reports{"HR_WriteCount: 65536", "HR_WriteCount: 65536", "HR_WriteCount: 18928"}));
    EXPECT_EQ(state().sendSizes, (std::vector<std::size_t>{65536, 65536, 18928}));
    EXPECT_EQ(state().sent, data);
}

TEST_F(SocketTest, ShortSendGoesOnFromWhereItStopped) {
    connect();
    state().sends = {sysfake::sendAccepts(1000)};
    std::string data(70000, 'x');
    data[999] = 'a';
    data[1000] = 'b';
    sock.SendString(data);
    EXPECT_EQ(take(),
              (Reports{"HR_WriteCount: 1000", "HR_WriteCount: 65536", "HR_WriteCount: 3464"}));
    EXPECT_EQ(state().sent, data);
}

TEST_F(SocketTest, FailedPieceIsReportedOnceAndTheRestIsNotSent) {
    connect();
    state().sends = {sysfake::sendAccepts(65536), sysfake::sendFails(10054)};
    sock.SendString(std::string(200000, 'x'));
    EXPECT_EQ(take(), (Reports{"HR_WriteCount: 65536", kReset}));
    EXPECT_EQ(sock.LastError, 10054);
    EXPECT_EQ(state().sent.size(), 65536U);
    EXPECT_EQ(state().sendSizes.size(), 2U);

    // The next call starts with a clean LastError.
    sock.SendString("5041\r\n");
    EXPECT_EQ(sock.LastError, 0);
}

// --- RecvString ---

// What one call is expected to give back.
struct Call {
    std::string line;
    int lastError;
    Reports reports;
};

struct RecvCase {
    const char* name;
    std::vector<Incoming> script;
    std::vector<Call> calls;
};

void PrintTo(const RecvCase& c, std::ostream* os) {
    *os << c.name;
}

class Recv : public SocketTest, public testing::WithParamInterface<RecvCase> {};

TEST_P(Recv, LinesReportsAndLastError) {
    const RecvCase& c = GetParam();
    connect();
    state().incoming.assign(c.script.begin(), c.script.end());
    for (std::size_t i = 0; i < c.calls.size(); ++i) {
        SCOPED_TRACE("call " + std::to_string(i + 1));
        const std::string line = sock.RecvString(1000);
        EXPECT_EQ(line, c.calls[i].line);
        EXPECT_EQ(sock.LastError, c.calls[i].lastError);
        EXPECT_EQ(take(), c.calls[i].reports);
    }
    for (const int t : state().waitTimeouts) {
        EXPECT_EQ(t, 1000);
    }
}

const std::string k4096(4096, 'x');
const std::string k4097(4097, 'x');

INSTANTIATE_TEST_SUITE_P(
    Table, Recv,
    testing::Values(
        RecvCase{"waiting data is read without a wait",
                 {waiting("`051T\r\n")},
                 {{"`051T", 0, {readCount(7)}}}},
        RecvCase{
            "data after a wait", {arrives("`051T\r\n")}, {{"`051T", 0, {kCanRead, readCount(7)}}}},
        RecvCase{"split over arrivals, each with its own wait",
                 {arrives("`0"), arrives("51"), arrives("T\r"), arrives("\n")},
                 {{"`051T",
                   0,
                   {kCanRead, readCount(2), kCanRead, readCount(2), kCanRead, readCount(2),
                    kCanRead, readCount(1)}}}},
        // The second line stays buffered and comes back without a report.
        RecvCase{"two lines in one read",
                 {waiting("5041\r\n6042\r\n")},
                 {{"5041", 0, {readCount(12)}}, {"6042", 0, {}}}},
        RecvCase{"buffered part of a line is completed by the next read",
                 {waiting("5041\r\n60"), arrives("42\r\n")},
                 {{"5041", 0, {readCount(8)}}, {"6042", 0, {kCanRead, readCount(4)}}}},
        RecvCase{"time-out", {sysfake::timeOut()}, {{"", 10060, {kTimedOut, kTimedOut}}}},
        RecvCase{"part of a line then a time-out",
                 {arrives("`05"), sysfake::timeOut()},
                 {{"", 10060, {kCanRead, readCount(3), kTimedOut, kTimedOut}}}},
        RecvCase{"closed by the board",
                 {sysfake::peerClosed()},
                 {{"", 10054, {kCanRead, kReset, kReset}}}},
        RecvCase{"closed after a line",
                 {waiting("5041\r\n"), sysfake::peerClosed()},
                 {{"5041", 0, {readCount(6)}}, {"", 10054, {kCanRead, kReset, kReset}}}},
        RecvCase{"receive fails",
                 {sysfake::recvFails(10053)},
                 {{"",
                   10053,
                   {kCanRead, "HR_Error: 10053,Software caused connection abort",
                    "HR_Error: 10053,Software caused connection abort",
                    "HR_Error: 10053,Software caused connection abort"}}}},
        RecvCase{"receive fails with data claimed waiting",
                 {sysfake::recvFails(10054, 10)},
                 {{"", 10054, {kReset, kReset, kReset}}}},
        RecvCase{
            "wait fails",
            {sysfake::waitFails(10004)},
            {{"",
              10004,
              {"HR_Error: 10004,Interrupted system call", "HR_Error: 10004,Interrupted system call",
               "HR_Error: 10004,Interrupted system call"}}}},
        RecvCase{"lone CR and lone LF are bytes of the line",
                 {waiting("a\rb\nc\r\n\n\r\n\r\r\n")},
                 {{"a\rb\nc", 0, {readCount(13)}}, {"\n", 0, {}}, {"\r", 0, {}}}},
        RecvCase{"line ended by LF alone never completes",
                 {arrives("`051T\n"), sysfake::timeOut()},
                 {{"", 10060, {kCanRead, readCount(6), kTimedOut, kTimedOut}}}},
        RecvCase{"bare CR LF is an empty line, not an error",
                 {waiting("\r\n")},
                 {{"", 0, {readCount(2)}}}},
        RecvCase{"NUL and high bytes pass unchanged",
                 {waiting(std::string("\0\x80\xff\r\n", 5))},
                 {{std::string("\0\x80\xff", 3), 0, {readCount(5)}}}},
        RecvCase{"longest line taken", {waiting(k4096 + "\r\n")}, {{k4096, 0, {readCount(4098)}}}},
        RecvCase{"longest line with its CR apart from its LF",
                 {arrives(k4096 + "\r"), arrives("\n")},
                 {{k4096, 0, {kCanRead, readCount(4097), kCanRead, readCount(1)}}}},
        RecvCase{"one byte too long, in one read",
                 {waiting(k4097 + "\r\n")},
                 {{"", 10040, {readCount(4099), kTooLong, kTooLong, kTooLong}}}},
        // The bound is met before the board's silence.
        RecvCase{"one byte too long, then silence",
                 {arrives(k4097), sysfake::timeOut()},
                 {{"", 10040, {kCanRead, readCount(4097), kTooLong, kTooLong, kTooLong}}}},
        RecvCase{"too long after a good line",
                 {waiting("5041\r\n" + k4097)},
                 {{"5041", 0, {readCount(4103)}}, {"", 10040, {kTooLong, kTooLong, kTooLong}}}},
        RecvCase{"a line of 64 KiB and more in one read",
                 {waiting(std::string(70000, 'x') + "\r\n")},
                 {{"", 10040, {readCount(65536), kTooLong, kTooLong, kTooLong}}}}),
    [](const testing::TestParamInfo<RecvCase>& info) {
        std::string n = info.param.name;
        for (char& ch : n) {
            ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return n;
    });

// An over-long line gives 10040 however it is cut into arrivals, and no more than one receive
// beyond the bound is ever held.
class OverlongLine : public SocketTest, public testing::WithParamInterface<std::size_t> {};

TEST_P(OverlongLine, RefusedWhateverTheSegmentation) {
    connect();
    const std::string stream = std::string(5000, 'x') + "\r\n5041\r\n";
    const std::size_t piece = GetParam();
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        state().incoming.push_back(arrives(stream.substr(at, piece)));
    }
    EXPECT_EQ(sock.RecvString(1000), "");
    EXPECT_EQ(sock.LastError, 10040);
    const Reports r = take();
    ASSERT_GE(r.size(), 5U);
    EXPECT_EQ(Reports(r.end() - 3, r.end()), (Reports{kTooLong, kTooLong, kTooLong}));
    std::size_t read = 0;
    for (std::size_t i = 0; i + 3 < r.size(); i += 2) {
        EXPECT_EQ(r[i], kCanRead);
        ASSERT_EQ(r[i + 1].rfind("HR_ReadCount: ", 0), 0U) << r[i + 1];
        read += std::stoul(r[i + 1].substr(14));
    }
    EXPECT_GT(read, TTCPBlockSocket::kMaxLineLength);
    EXPECT_LE(read, TTCPBlockSocket::kMaxLineLength + piece);
}

INSTANTIATE_TEST_SUITE_P(Pieces, OverlongLine,
                         testing::Values(1, 2, 7, 1000, 4096, 4097, 4098, 5001, 5002, 5010));

TEST_F(SocketTest, EndlessStreamWithoutLineEndIsRefusedAfterOneReceive) {
    connect();
    state().incoming.push_back(sysfake::endless(TTCPBlockSocket::kChunk));
    EXPECT_EQ(sock.RecvString(1000), "");
    EXPECT_EQ(sock.LastError, 10040);
    EXPECT_EQ(take(), (Reports{readCount(65536), kTooLong, kTooLong, kTooLong}));
    EXPECT_EQ(state().received, TTCPBlockSocket::kChunk);
}

// Without a connection a send reports its failure once and sends nothing; a receive reports it
// three times. A failed attempt leaves a socket that is not connected; no socket at all when
// resolution failed or nothing was tried.
struct Unconnected {
    const char* name;
    std::function<void(sysfake::State&)> setup; // null: Connect is never called
    Reports sendReports;
    int code;
};

class WithoutConnection : public SocketTest, public testing::WithParamInterface<Unconnected> {};

TEST_P(WithoutConnection, SendAndReceiveFail) {
    const Unconnected& c = GetParam();
    if (c.setup) {
        c.setup(state());
        sock.Connect("127.0.0.1", "8888");
        take();
    }
    sock.SendString("5041\r\n");
    EXPECT_EQ(take(), c.sendReports);
    EXPECT_EQ(sock.LastError, c.code);
    EXPECT_TRUE(state().sendSizes.empty());

    EXPECT_EQ(sock.RecvString(1000), "");
    EXPECT_EQ(take(), Reports(3, c.sendReports.front()));
    EXPECT_EQ(sock.LastError, c.code);
    EXPECT_EQ(state().recvCalls, 0U);
}

void PrintTo(const Unconnected& c, std::ostream* os) {
    *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, WithoutConnection,
    testing::Values(Unconnected{"refused", [](sysfake::State& s) { s.connectResult = 10061; },
                                Reports{"HR_Error: 10057,Socket is not connected"}, 10057},
                    Unconnected{"unresolved", [](sysfake::State& s) { s.resolveResult = 11001; },
                                Reports{"HR_Error: 10038,Socket operation on non-socket"}, 10038},
                    Unconnected{"never connected", nullptr,
                                Reports{"HR_Error: 10038,Socket operation on non-socket"}, 10038}),
    [](const testing::TestParamInfo<Unconnected>& info) {
        std::string n = info.param.name;
        std::replace(n.begin(), n.end(), ' ', '_');
        return n;
    });

// --- CloseSocket ---

TEST_F(SocketTest, CloseDrainsWaitingDataThenCloses) {
    connect();
    state().incoming = {waiting("left over")};
    sock.CloseSocket();
    EXPECT_EQ(take(), (Reports{readCount(9), kClose}));
    EXPECT_EQ(state().calls, (std::vector<std::string>{"resolve 127.0.0.1 8888", "create IPv4",
                                                       "connect", "shutdown", "close"}));
    EXPECT_EQ(sock.LastError, 0);
}

TEST_F(SocketTest, CloseDropsBufferedTextWithoutReport) {
    connect();
    state().incoming = {waiting("5041\r\n6042\r\n")};
    ASSERT_EQ(sock.RecvString(1000), "5041");
    take();
    sock.CloseSocket();
    EXPECT_EQ(take(), Reports{kClose});
}

TEST_F(SocketTest, CloseSkipsTheDrainAfterAFailedOperation) {
    connect();
    state().incoming = {sysfake::timeOut(), waiting("late")};
    sock.RecvString(1000);
    take();
    sock.CloseSocket();
    EXPECT_EQ(take(), Reports{kClose});
    EXPECT_EQ(state().calls.back(), "close");
    EXPECT_EQ(std::count(state().calls.begin(), state().calls.end(), "shutdown"), 0);
    EXPECT_EQ(state().received, 0U);
}

TEST_F(SocketTest, FailedDrainReadIsReportedAndTheCloseGoesOn) {
    connect();
    state().incoming = {waiting("ab"), sysfake::recvFails(10054, 5)};
    sock.CloseSocket();
    EXPECT_EQ(take(), (Reports{readCount(2), kReset, kReset, kReset, kClose}));
    EXPECT_EQ(sock.LastError, 0);
    EXPECT_EQ(state().calls.back(), "close");
}

TEST_F(SocketTest, EveryCloseReportsAndTheDestructorClosesOnceMore) {
    {
        TTCPBlockSocket s;
        s.OnStatus = &record;
        s.Connect("127.0.0.1", "8888");
        take();
        s.CloseSocket();
        s.CloseSocket();
        EXPECT_EQ(take(), (Reports{kClose, kClose}));
    }
    EXPECT_EQ(take(), Reports{kClose});
    EXPECT_EQ(std::count(state().calls.begin(), state().calls.end(), "close"), 1);
}

TEST_F(SocketTest, DestructorOfAnOpenSocketDrainsAndCloses) {
    {
        TTCPBlockSocket s;
        s.OnStatus = &record;
        s.Connect("127.0.0.1", "8888");
        take();
        state().incoming = {waiting("xyz")};
    }
    EXPECT_EQ(take(), (Reports{readCount(3), kClose}));
    EXPECT_EQ(state().calls.back(), "close");
}

// However the stream comes, the close reads no more than kMaxDrain bytes.
class EndlessDrain : public SocketTest, public testing::WithParamInterface<std::size_t> {};

TEST_P(EndlessDrain, StopsAtTheBound) {
    connect();
    const std::size_t perRead = GetParam();
    state().incoming = {sysfake::endless(perRead)};
    sock.CloseSocket();
    const Reports r = take();
    EXPECT_LE(state().received, TTCPBlockSocket::kMaxDrain);
    EXPECT_GT(state().received + perRead, TTCPBlockSocket::kMaxDrain);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r.back(), kClose);
    EXPECT_EQ(sock.LastError, 0);
    EXPECT_EQ(state().calls.back(), "close");
}

INSTANTIATE_TEST_SUITE_P(ReadSizes, EndlessDrain, testing::Values(65536, 65535, 1000, 7));

} // namespace
