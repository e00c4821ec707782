#include "errors.hpp"
#include "faults.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace boardsim {
namespace {

using Kind = Action::Kind;

Fault fault(std::uint64_t when, Kind kind, std::string text = {}, std::uint64_t count = 0,
            std::uint64_t gapMs = 0) {
    return Fault{when, Action{kind, std::move(text), count, gapMs}};
}

struct GoodCase {
    std::string option;
    Fault expected;
};

TEST(ParseFault, ReadsEveryAction) {
    const std::vector<GoodCase> cases = {
        {"1:delay=250", fault(1, Kind::Delay, {}, 250)},
        {"accept:delay=0", fault(kAtAccept, Kind::Delay, {}, 0)},
        {"2:answer=1t", fault(2, Kind::Answer, "1t")},
        {"2:answer=", fault(2, Kind::Answer, "")},
        {"3:answer=a:b=c", fault(3, Kind::Answer, "a:b=c")},
        {"3:badsum", fault(3, Kind::BadSum)},
        {"4:lf", fault(4, Kind::Lf)},
        {"4:cr", fault(4, Kind::Cr)},
        {"5:split=3@20", fault(5, Kind::Split, {}, 3, 20)},
        {"5:trickle=7", fault(5, Kind::Split, {}, 1, 7)},
        {"6:extra=c052T", fault(6, Kind::Extra, "c052T")},
        {"7:raw=1045\\r\\n", fault(7, Kind::Raw, "1045\r\n")},
        {"accept:raw=\\x00hi", fault(kAtAccept, Kind::Raw, std::string("\0hi", 3))},
        {"8:flood=256M", fault(8, Kind::Flood, {}, 256ULL << 20)},
        {"accept:flood=10", fault(kAtAccept, Kind::Flood, {}, 10)},
        {"9:bigline=5000", fault(9, Kind::BigLine, {}, 5000)},
        {"9:bigline=4k", fault(9, Kind::BigLine, {}, 4096)},
        {"10:silent", fault(10, Kind::Silent)},
        {"11:close", fault(11, Kind::Close)},
        {"accept:reset", fault(kAtAccept, Kind::Reset)},
        {"007:close", fault(7, Kind::Close)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseFault(c.option), c.expected) << c.option;
    }
}

TEST(ParseFault, RejectsBadWhenOrAction) {
    const std::vector<std::string> bad = {
        "close",              // no WHEN
        "0:close",            // requests count from 1
        "-1:close",           //
        "first:close",        //
        ":close",             //
        "1:",                 // no action
        "1:explode",          //
        "1:Close",            // names are lower case
        "1:delay",            // needs a value
        "1:delay=",           //
        "1:delay=fast",       //
        "1:delay=3600001",    //
        "1:badsum=1",         // takes no value
        "1:close=now",        //
        "1:split=3",          // needs K@MS
        "1:split=0@5",        // empty segments
        "1:split=a@5",        //
        "1:split=3@",         //
        "1:trickle",          //
        "1:flood=12X",        //
        "1:flood=",           //
        "1:bigline=-5",       //
        "1:raw=\\q",          // bad escape
        "accept:answer=1T",   // nothing to answer at accept
        "accept:badsum",      //
        "accept:extra=x",     //
        "accept:bigline=100", //
        "accept:trickle=5",   //
        "accept:silent",      //
    };
    for (const auto& option : bad) {
        EXPECT_THROW(parseFault(option), UsageError) << option;
    }
}

TEST(FaultPlan, GivesTheActionsOfOnePointInTheOrderGiven) {
    FaultPlan plan;
    EXPECT_TRUE(plan.empty());
    plan.add(parseFault("2:delay=10"));
    plan.add(parseFault("1:silent"));
    plan.add(parseFault("2:answer=1t"));
    plan.add(parseFault("accept:raw=hi"));
    plan.add(parseFault("2:badsum"));
    EXPECT_FALSE(plan.empty());

    const std::vector<Action> two = plan.at(2);
    ASSERT_EQ(two.size(), 3U);
    EXPECT_EQ(two[0].kind, Kind::Delay);
    EXPECT_EQ(two[1].kind, Kind::Answer);
    EXPECT_EQ(two[2].kind, Kind::BadSum);
    ASSERT_EQ(plan.at(kAtAccept).size(), 1U);
    EXPECT_EQ(plan.at(kAtAccept)[0].text, "hi");
    EXPECT_EQ(plan.at(1).size(), 1U);
    EXPECT_TRUE(plan.at(3).empty());
}

} // namespace
} // namespace boardsim
