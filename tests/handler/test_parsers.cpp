// What the handler reads from untrusted bytes: the logging sentences, the
// port-closed report and the datagrams of its own port.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "HandlerParsers.h"

namespace {

using namespace std::string_literals;
namespace hp = handler_parse;

TEST(HandlerParsers, CounterAndFlag) {
    struct Case {
        std::string payload;
        std::string counter;
        int flag;
    } cases[] = {
        {"$ZQPEL,20,1302_221:12,0\n\r", "12", 0},
        {"$ZQPEL,20,1302_221:12,1\n\r", "12", 1},
        {"$ZQPEL,21,1302_221:0007, 1\n\r", "0007", 1},
        {"$ZQPEL,20,1302_221:12,-3x\n\r", "12", -3},
        {"$ZQPEL,20,1302_221:12,x1\n\r", "12", 0},
        {"$ZQPEL,20,1302_221:12,1", "12", 1},      // no terminator
        {"$ZQPEL,20,1302_221:12,\n\r5", "12", 0},  // the flag ends at the terminator
        {"$ZQPEL,20,1302_221:12\n\r", "12", 0},    // no comma: no line break either
        {"$ZQPEL,20,1302_221:12", "12", 0},
        {"12,1", "12", 1},                     // no colon: from the start
        {"$ZQPEL,20,1302_221", "$ZQPEL", 20},  // no colon: from the start
        {"a:b:c,1", "b:c", 1},                 // the first colon only
        {"$ZQPEL,20,k:12,99999999999999999999\n\r", "12", INT_MAX},
        {"$ZQPEL,20,k:12,-99999999999999999999\n\r", "12", INT_MIN},
        {"$ZQPEL,20,k:1\0002,1"s, "1", 0},  // text ends at a zero byte
        {"", "", 0},
        {":", "", 0},
        {":,", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        const hp::CounterAndFlag r = hp::ParseCounterAndFlag(c.payload);
        EXPECT_EQ(r.counter, c.counter);
        EXPECT_EQ(r.labelFlag, c.flag);
    }
}

TEST(HandlerParsers, StopPingFlag) {
    struct Case {
        std::string payload;
        int flag;
    } cases[] = {
        {"$ZQPEL,22,1302_221:1\n\r", 1},
        {"$ZQPEL,22,1302_221:0\n\r", 0},
        {"$ZQPEL,22,1302_221:\n\r1", 0},
        {"$ZQPEL,22,1302_221", 0},
        {"  7", 7},
        {"$ZQPEL,22,k: +2,", 2},
        {"", 0},
        {"x:\0001"s, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(hp::ParseStopPingFlag(c.payload), c.flag) << c.payload;
}

TEST(HandlerParsers, PortClosed) {
    struct Case {
        std::string payload;
        bool report;
        std::string port, reason;
    } cases[] = {
        {"$ZQPEL,87,5081,closed\n\r", true, "5081", "closed"},
        {"$ZQPEL,87,5081\n\r", true, "5081\n\r", ""},  // last field keeps its break
        {"$ZQPEL,87,5081,\n\r", true, "5081", ""},     // empty reason: 581
        {"$ZQPEL,87,5081,,reason,more", true, "5081", "reason"},
        {"$ZQPEL,,87,,5081", true, "5081", ""},  // empty fields skipped
        {"$ZQPEL,87,P,Q\rR", true, "P", "Q"},
        {"$ZQPEL,87,P,\r\nQ", true, "P", "Q"},  // breaks before Q are skipped
        {"$ZQPEL,87,", false, "", ""},
        {"$ZQPEL,87", false, "", ""},
        {"", false, "", ""},
        {",,,", false, "", ""},
        {"$ZQPEL,87,\0005081"s, false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.payload);
        const auto r = hp::ParsePortClosed(c.payload);
        ASSERT_EQ(r.has_value(), c.report);
        if (!r) continue;
        EXPECT_EQ(r->port, c.port);
        EXPECT_EQ(r->reason, c.reason);
    }
}

TEST(HandlerParsers, DatagramNumbers) {
    const int32_t drop = 0;  // stands for "no signal"
    struct Case {
        std::string bytes;
        int32_t number;
    } cases[] = {
        {"$ZQPEL,87,5081\n\r", 50087},
        {"$ZQPEL,39,1302_221,x\n\r", 50039},
        {"$ZQPEL, 5", 50005},
        {"$ZQPEL,+5,", 50005},
        {"$ZQPEL,5x,", 50005},
        {"$ZQPEL,-49999,", 1},
        {"$ZQPEL,-50000,", drop},  // 0 and below are the framework's own
        {"$ZQPEL,-50001,", drop},
        {"$ZQPEL,-50099,", drop},
        {"$ZQPEL,2147433647,", INT_MAX},
        {"$ZQPEL,2147433648,", drop},
        {"$ZQPEL,99999999999999999999999,", drop},
        {"$ZQPEL,", drop},
        {"$ZQPEL", drop},
        {"$ZQPEL,,", drop},
        {"$ZQPEL,x,", drop},
        {"$ZQPEL,-,", drop},
        {"$ZQPELX,12", 50012},  // six characters decide
        {"$ZQPEL,\0001"s, drop},
        {"$ZQPE", hp::kNotASentence},
        {"", hp::kNotASentence},
        {"$GPTIDE,1.2", hp::kNotASentence},
        {"hello", hp::kNotASentence},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const auto n = hp::DatagramSignalNumber(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(n.value_or(drop), c.number);
    }
}

}  // namespace
