#include <FsmSignal.h>
#include <SignalNames.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(Signals, CopyHasIndependentPayloadAndSameUserData) {
    CPELSignal original(50020, CFsmPayload::Copy("$ZQPEL,20,\n\r"));
    original.SetUserWord(0, 0x1122334455667788ull);
    original.userData[99] = 0xab;

    CPELSignal copy(original);
    ASSERT_EQ(copy.payload.length(), 12);
    EXPECT_NE(copy.payload.data(), original.payload.data());
    EXPECT_EQ(copy.GetSignalNo(), 50020);
    EXPECT_EQ(copy.GetUserWord(0), 0x1122334455667788ull);
    EXPECT_EQ(copy.userData[99], 0xab);

    original.payload.reset();
    EXPECT_EQ(copy.payload.view(), "$ZQPEL,20,\n\r");
}

TEST(Signals, EmptyOrNegativeLengthGivesNullPayload) {
    for (int32_t length : {0, -1, -1000}) {
        CFsmPayload p = CFsmPayload::Copy("abc", length);
        EXPECT_EQ(p.data(), nullptr) << length;
        EXPECT_EQ(p.length(), 0) << length;
    }
    CPELSignal empty(1);
    CPELSignal copy(empty);
    EXPECT_EQ(copy.payload.data(), nullptr);
    EXPECT_EQ(copy.payload.length(), 0);
}

TEST(Signals, TimerExpiryCarriesEmitNumberAndPrivatePayload) {
    CFsmTimeSignal record(-2, 54004, 300, CFsmPayload::Copy("key"));
    record.userData[0] = 7;
    record.userData[99] = 9;
    EXPECT_TRUE(record.fromTimer);
    EXPECT_EQ(std::string(record.marker, 10), std::string(10, 'T'));

    CPELSignal expiry(record);
    EXPECT_EQ(expiry.GetSignalNo(), 54004);
    EXPECT_TRUE(expiry.fromTimer);
    EXPECT_EQ(expiry.sender, nullptr);
    EXPECT_EQ(expiry.userData[0], 7);
    EXPECT_EQ(expiry.userData[99], 9);
    EXPECT_NE(expiry.payload.data(), record.payload.data());
    EXPECT_EQ(expiry.payload.view(), "key");
}

TEST(Signals, OrdinarySignalDefaults) {
    CPELSignal s(60000);
    EXPECT_FALSE(s.fromTimer);
    EXPECT_EQ(s.sender, nullptr);
    EXPECT_EQ(std::string(s.marker, 10), std::string(10, 'X'));
    for (unsigned char b : s.userData) ASSERT_EQ(b, 0);
}

TEST(SignalNames, TableShapeAndLookups) {
    EXPECT_EQ(g_fsmSignalNameCount, 521u);
    EXPECT_EQ(g_fsmSignalNames[g_fsmSignalNameCount - 1].number, 0);
    EXPECT_STREQ(g_fsmSignalNames[g_fsmSignalNameCount - 1].name, "END_OF_TABLE");

    struct Case {
        int32_t number;
        const char* name;
    } cases[] = {
        {51000, "ZQPEL_1000"},
        {54045, "LOGGER_START_TIMEOUT"},
        {0, "0"},
        {50005, "ZQPEL_5 "},
        {50091, "50091"},
        {-1, "_TIMEHANDL"},
        {-2, "_TIMEOUT"},
        {-99, "_UNKNOWN"},
        {56002, "INIT_SYS_COMPL"},
        {54034, "SVP_EDITOR_NO_RESP "},
        {55001, "INITIALIZE"},
        {60000, "INITIALIZE"},
        {51060, "GE Running"},
        {59100, "TIDE"},
        {58011, "NMEA_APB"},
        {50762, "ZQPEL_762"},
        {123456789, "123456789"},
        {-5, "-5"},
    };
    for (const auto& c : cases) {
        char buffer[112];
        EXPECT_STREQ(FsmSignalName(g_fsmSignalNames, c.number, buffer, sizeof buffer), c.name)
            << c.number;
    }
}

TEST(SignalNames, CommandSentenceFamilyHas252Rows) {
    size_t commands = 0;
    for (size_t i = 0; i < g_fsmSignalNameCount; ++i) {
        const auto& row = g_fsmSignalNames[i];
        if (std::strncmp(row.name, "ZQPEL_", 6) == 0) {
            ++commands;
            EXPECT_EQ(
                std::to_string(row.number - 50000),
                std::string(row.name + 6, row.number - 50000 < 10 ? 1 : std::strlen(row.name + 6)));
        }
    }
    EXPECT_EQ(commands, 252u);
}

}  // namespace
