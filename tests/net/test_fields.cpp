// The field splitter and the port table: pure functions, one table each.
#include <Fields.h>
#include <PortTable.h>
#include <gtest/gtest.h>

namespace {

using Fields = std::vector<std::string>;

TEST(SplitFields, Table) {
    struct Case {
        std::string text;
        char delimiter;
        Fields expected;
    } cases[] = {
        {"", ',', {}},
        {",", ',', {""}},
        {",,", ',', {"", ""}},
        {"a", ',', {"a"}},
        {"a,b", ',', {"a", "b"}},
        {"a,b,", ',', {"a", "b"}},      // trailing delimiter adds no field
        {"a,,b", ',', {"a", "", "b"}},  // two in a row: an empty field
        {",a", ',', {"", "a"}},         // leading delimiter: empty first field
        {"$ZQPEL,13,", ',', {"$ZQPEL", "13"}},
        {"$ZQPEL,24,\n\r", ',', {"$ZQPEL", "24", "\n\r"}},
        {"$ZQPEL,32\n\r", ',', {"$ZQPEL", "32\n\r"}},
        {"127.0.0.1:4002", ':', {"127.0.0.1", "4002"}},
        {"127.0.0.1:", ':', {"127.0.0.1"}},
        {"127.0.0.1", ':', {"127.0.0.1"}},
        {"a,b", ':', {"a,b"}},
        {std::string("a\0b,c", 5), ',', {std::string("a\0b", 3), "c"}},  // zero bytes are data
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitFields(c.text, c.delimiter), c.expected)
            << "text \"" << c.text << "\" delimiter '" << c.delimiter << "'";
    }
}

TEST(PortOf, Table) {
    struct Case {
        const char* name;
        uint16_t port;
    } cases[] = {
        {"ZOR_CMD", 4001},
        {"IMULOGGER_DATA", 3011},
        {"IMULOGGER_CMD", 5083},
        {"RTCMLOGGER_CMD", 5081},
        {"VORANTE_CTRL", 5076},
        {"VMBLOGGER_DATA", 3021},
        {"VMBLOGGER_CMD", 5093},
        {"SPOLOGGER_DATA", 3041},
        {"SPOLOGGER_CMD", 5094},
        {"APPLANIX_DATA", 5602},
        {"APPLANIX_CMD", 5071},
        {"SRHLOGGER_CMD", 1111},
        {"P2XLOGGER_CMD", 2222},
        {"SSV_DATA", 5058},
        {"SSV_CMD", 5055},
        {"SSV_RS", 5057},
        {"SSV_RS_CONF", 5056},
        // Exact match only: case, length, prefixes.
        {"zor_cmd", 0},
        {"ssv_rs", 0},
        {"SSV_RS_", 0},
        {"SSV", 0},
        {"", 0},
        {"ZOR_CMD ", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(PortOf(c.name), c.port) << c.name;
}

}  // namespace
