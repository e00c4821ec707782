// The guarded calls: an exception that escapes a socket call (here, a console write failing
// inside the status handler) becomes the caller's message line and a fatal stop.
#include "app/initcomm.hpp"
#include "app/status.hpp"
#include "capture.hpp"
#include "link/transport.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using testing_support::lines;

struct Exited {
    int status;
};

// A console whose write of a line starting with `failOn` throws, and an exit that unwinds.
class Guards : public testing::Test {
protected:
    void SetUp() override {
        plat::seams().consoleOut = [this](std::string_view text) {
            if (!failOn_.empty() && text.substr(0, failOn_.size()) == failOn_) {
                throw plat::ConsoleError("console gone");
            }
            out_.append(text);
        };
        plat::seams().consoleIn = [this] {
            std::string a = answers_.empty() ? "" : answers_.front();
            if (!answers_.empty()) {
                answers_.erase(answers_.begin());
            }
            return a;
        };
        plat::seams().exit = [](int status) { throw Exited{status}; };
    }
    void TearDown() override {
        failOn_.clear();
        delete tcp; // its close reports still go to the captured console
        tcp = nullptr;
        plat::seams() = plat::Seams{};
        if (listener_ >= 0) {
            close(listener_);
        }
    }

    // A loopback listener; returns its port. Connections wait in its backlog.
    int listen() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(listener_, 4), 0);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }

    int exitStatusOf(void (*routine)()) {
        try {
            routine();
        } catch (const Exited& e) {
            return e.status;
        }
        return -1;
    }

    std::string failOn_;
    std::string out_;
    std::vector<std::string> answers_;
    int listener_ = -1;
};

TEST_F(Guards, ExceptionInsideConnectEndsStartUp) {
    const std::string port = std::to_string(listen());
    answers_ = {"", port};
    failOn_ = "  HR_SocketCreate";
    EXPECT_EQ(exitStatusOf(InitializeComm), 0);
    // No "On exit from initcomm" line, and the socket stays as it is.
    EXPECT_EQ(out_, "Enter Arduino IP Address: [127.0.0.1]: Enter the Arduino's TCP port[8888]: " +
                        lines({"  HR_ResolvingBegin: 127.0.0.1:" + port,
                               "  HR_ResolvingEnd: 127.0.0.1:" + port,
                               "Error connecting to Arduino via TCP."}));
    ASSERT_NE(tcp, nullptr);
}

TEST_F(Guards, ExceptionInsideSendEndsTheRunWithLastError) {
    tcp = new TTCPBlockSocket();
    tcp->OnStatus = &TMyEventObject::MyStatus;
    tcp->Connect("127.0.0.1", std::to_string(listen()));
    ASSERT_EQ(tcp->LastError, 0);
    out_.clear();
    failOn_ = "  HR_WriteCount";
    EXPECT_EQ(exitStatusOf([] { tlk_sendStr("1"); }), 0);
    EXPECT_TRUE(out_.ends_with(lines(
        {"@tlk_i_xmitPacket: packet=5041", "@tlk_i_xmitPacket: SendString Failed. LastError=0"})))
        << out_;
}

TEST_F(Guards, ExceptionInsideReceiveEndsTheRunWithLastError) {
    tcp = new TTCPBlockSocket();
    tcp->OnStatus = &TMyEventObject::MyStatus;
    tcp->Connect("127.0.0.1", std::to_string(listen()));
    ASSERT_EQ(tcp->LastError, 0);
    out_.clear();
    // Nothing answers: the time-out's report is the write that fails.
    failOn_ = "  HR_Error";
    EXPECT_EQ(exitStatusOf([] {
                  std::string s;
                  tlk_getStr(s);
              }),
              0);
    EXPECT_EQ(out_, lines({"@tlk_getStr", "@tlk_i_recvPacket",
                           "@tlk_i_recvPacket: recvString error. LastError=10060"}));
}

} // namespace
