// The handler's jobs against real UDP sockets on the sounder's ports: the
// greeting, the logging and survey sentences byte for byte, the relays, the
// port-closed messages, datagrams on the handler's own port and the quit
// sentences of the destructor. Sounder 1302/221 of the demo suite: DRZ
// 23242, XDRZ 23243, handler 23244. No process is started (suspend mode 1),
// which the handler treats as if both ran.
#include <SurveyData.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "FixedClock.h"
#include "HandlerTestSupport.h"

namespace {

using namespace handler_test;
using H = CZORHandl;
using Clock = std::chrono::steady_clock;

using handler_test::FixedTime;

class ActiveHandler : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(drz.Bound() && xdrz.Bound());
        env.WriteSettings({{"Common/RawDataRoot", "/srv/peldata/raw/"},
                           {"Common/VesselName", "Sea Lion"},
                           {"1302_221/CurrentSurvey", "NorthBank"}});
        handler = env.MakeHandler("ZORH_1302_221");
        handler->SetClock(&FixedTime);
        handler->StartFsm(0);
        started = Clock::now();
        handler->PutSignal(HandlerEnvironment::InitParam(&controller, 1302, 221));
        // Waiting for the start: kept back, and run once the handler is active.
        handler->PutSignal(HandlerEnvironment::Sentence(87, "$R20,held\r\n"));
        greetingDrz = drz.Next();
        greetingXdrz = xdrz.Next();
        greeted = Clock::now();
        held = drz.Next();
    }

    // Sends a sentence as the controller relays it.
    void Put(int32_t number, const std::string& text) {
        handler->PutSignal(HandlerEnvironment::Sentence(number, text, &controller));
    }

    HandlerEnvironment env;
    UdpSink drz{23242};
    UdpSink xdrz{23243};
    CFakeController controller;
    std::unique_ptr<CZORHandl> handler;
    Clock::time_point started, greeted;
    std::optional<std::string> greetingDrz, greetingXdrz, held;
};

TEST_F(ActiveHandler, GreetsBothProcessesFourSecondsAfterTheStartThenRelaysWhatWaited) {
    EXPECT_EQ(greetingDrz, std::string("$ZQPEL,6,\n\r"));
    EXPECT_EQ(greetingXdrz, std::string("$ZQPEL,6,\n\r"));
    EXPECT_GE(greeted - started, std::chrono::milliseconds(3900));
    EXPECT_EQ(held, std::string("$R20,held\r\n"));
    // Written before this line was traced.
    ASSERT_TRUE(env.Capture().WaitFor("XDRZ Receive port is"));
    EXPECT_EQ(handler->DrzEndpoint(), "127.0.0.1:23242");
    EXPECT_EQ(handler->XdrzEndpoint(), "127.0.0.1:23243");
    EXPECT_EQ(handler->SurveyName(), "NorthBank");
    EXPECT_EQ(handler->GroupName(), "1302_221");
    const std::string trace = env.Capture().Text();
    EXPECT_NE(trace.find("Data: \nDRZ Receive port is 127.0.0.1:23242"), std::string::npos);
    EXPECT_NE(trace.find("Data: \nXDRZ Receive port is 127.0.0.1:23243"), std::string::npos);
    EXPECT_NE(trace.find("Data: DATABASE INFO: ver. "), std::string::npos);
}

TEST_F(ActiveHandler, LoggingSentencesByteForByte) {
    // The first load of the process rewrote the file-name structure
    // without the ship's name.
    const std::string folder = "/srv/peldata/raw/NorthBank/";
    Put(50020, "$ZQPEL,20,1302_221:12,0\n\r");
    EXPECT_EQ(drz.Next(), "$ZQPEL,1,12," + folder + "0012_20240305_140709.vmall\n\r");
    EXPECT_TRUE(xdrz.Quiet());

    Put(50020, "$ZQPEL,20,1302_221:7,1\n\r");  // with the label report first
    EXPECT_EQ(xdrz.Next(), std::string("$ZQPEL,756,\n\r"));
    EXPECT_EQ(drz.Next(), "$ZQPEL,1,7," + folder + "0007_20240305_140709.vmall\n\r");

    Put(50021, "$ZQPEL,21,1302_221:12345,0\n\r");
    EXPECT_EQ(drz.Next(), "$ZQPEL,25,12345," + folder + "12345.vmall\n\r");
    EXPECT_TRUE(xdrz.Quiet());

    Put(50022, "$ZQPEL,22,1302_221:1\n\r");
    EXPECT_EQ(drz.Next(), std::string("$ZQPEL,7,\n\r"));
    EXPECT_EQ(xdrz.Next(), std::string("$ZQPEL,7,\n\r"));
    EXPECT_EQ(xdrz.Next(), std::string("$ZQPEL,756,\n\r"));

    Put(50022, "$ZQPEL,22,1302_221:0\n\r");
    EXPECT_EQ(drz.Next(), std::string("$ZQPEL,7,\n\r"));
    EXPECT_EQ(xdrz.Next(), std::string("$ZQPEL,7,\n\r"));
    EXPECT_TRUE(xdrz.Quiet());

    ASSERT_TRUE(env.Capture().WaitFor("Data: \n\tZQPEL_25 datagram to DRZ: $ZQPEL,25,12345,"));
    EXPECT_TRUE(env.Capture().WaitFor("Data: \n\tZQPEL_1 datagram to DRZ: $ZQPEL,1,12," + folder +
                                      "0012_20240305_140709.vmall\n\r\n\r"));
}

TEST_F(ActiveHandler, SurveyChangeAndHostileLoggingSentences) {
    env.WriteSettings({{"1302_221/CurrentSurvey", "SouthBank"}});
    Put(50005, "$ZQPEL,5,\n\r");
    EXPECT_EQ(drz.Next(), std::string("$ZQPEL,6,\n\r"));
    ASSERT_TRUE(env.Capture().WaitFor("Data: Sent ZQPEL_6 to DRZ OK."));
    Put(50021, "$ZQPEL,21,1302_221:3,0\n\r");
    EXPECT_EQ(drz.Next(), std::string("$ZQPEL,25,3,/srv/peldata/raw/SouthBank/0003.vmall\n\r"));

    // An over-long survey name is cut to the 511 characters of the buffer.
    env.WriteSettings({{"1302_221/CurrentSurvey", std::string(2000, 's')}});
    Put(50005, "$ZQPEL,5,\n\r");
    EXPECT_EQ(drz.Next(), std::string("$ZQPEL,6,\n\r"));
    Put(50021, "$ZQPEL,21,k:1,0");
    EXPECT_EQ(drz.Next(),
              "$ZQPEL,25,1,/srv/peldata/raw/" + std::string(511, 's') + "/0001.vmall\n\r");

    // Without colon, comma or terminator, with zero bytes: still one
    // well-formed sentence.
    Put(50021, "12");
    EXPECT_EQ(drz.Next(),
              "$ZQPEL,25,12,/srv/peldata/raw/" + std::string(511, 's') + "/0012.vmall\n\r");
    Put(50021, std::string("$ZQPEL,21,k:4\0,1\n\r", 18));
    EXPECT_EQ(drz.Next(),
              "$ZQPEL,25,4,/srv/peldata/raw/" + std::string(511, 's') + "/0004.vmall\n\r");
    EXPECT_TRUE(xdrz.Quiet());
}

// The settings are read per logging sentence; the handler keeps a copy, so
// every way the file can change must still show in the very next path. A
// writer that puts the old modification time back stands for a rewrite
// within one tick of the file system's clock.
TEST_F(ActiveHandler, AChangedSettingsFileIsSeenByTheNextSentence) {
    namespace fs = std::filesystem;
    const std::string file = CSurveyData::settingsFilePath();
    struct Case {
        const char* what;
        const char* before;  // the root when the copy is taken
        const char* after;
        bool settled;        // the file was old when the copy was taken
        bool keepTimestamp;  // the writer put the old modification time back
    };
    const Case cases[] = {
        {"same size, same time, fresh file", "/srv/peldata/one/", "/srv/peldata/two/", false, true},
        {"same size, a settled file", "/srv/peldata/abc/", "/srv/peldata/xyz/", true, false},
        {"other size, same time", "/srv/peldata/raw/", "/srv/peldata/other/", true, true},
    };
    int counter = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        env.WriteSettings({{"Common/RawDataRoot", c.before}});
        if (c.settled)
            fs::last_write_time(file, fs::last_write_time(file) - std::chrono::minutes(5));
        for (const char* root : {c.before, c.after}) {
            if (root == c.after) {
                const fs::file_time_type stamp = fs::last_write_time(file);
                env.WriteSettings({{"Common/RawDataRoot", c.after}});
                if (c.keepTimestamp) fs::last_write_time(file, stamp);
            }
            const std::string number = std::to_string(++counter);
            Put(50021, "$ZQPEL,21,1302_221:" + number + ",0\n\r");
            EXPECT_EQ(drz.Next(),
                      "$ZQPEL,25," + number + "," + root + "NorthBank/000" + number + ".vmall\n\r");
        }
    }
}

TEST_F(ActiveHandler, RelaysGoWhereTheTableSays) {
    struct Case {
        int32_t number;
        std::string bytes;
        bool toDrz, toXdrz;
    } cases[] = {
        {59100, "$GPTIDE,1.23,M\r\n", false, true},
        {58011, "$GPAPB,A,A,0.10,R,N\r\n", false, true},
        {58012, "$GPXTE,A,A,0.67,L,N\r\n", false, true},
        {50471, "$ZQPEL,471,1302_221,a\n\r", true, true},
        {50060, "$ZQPEL,60,1302_221\n\r", true, false},
        {50061, "$ZQPEL,61,1302_221\n\r", true, false},
        {50062, "$ZQPEL,62,1302_221\n\r", true, false},
        {50762, "$ZQPEL,762,1302_221\n\r", true, false},
        {50081, "$ZQPEL,81,1302_221\n\r", true, false},
        {51120, "$XXR20,remote", true, false},
        {87, "$R20,x", true, false},
        {50473, "$ZQPEL,473,1302_221\n\r", true, false},
        {50474, "$ZQPEL,474,1302_221\n\r", true, false},
        {50475, std::string("$ZQPEL,475,\0bin\xff", 16), true, false},
        {50355, "$ZQPEL,355,1302_221\n\r", false, false},  // no row when active
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        Put(c.number, c.bytes);
        EXPECT_EQ(c.toDrz ? drz.Next() : drz.Next(200),
                  c.toDrz ? std::optional<std::string>(c.bytes) : std::nullopt);
        EXPECT_EQ(c.toXdrz ? xdrz.Next() : xdrz.Next(200),
                  c.toXdrz ? std::optional<std::string>(c.bytes) : std::nullopt);
    }

    // 31 and 39 go back to the controller as they are.
    auto s39 = HandlerEnvironment::Sentence(50039, "$ZQPEL,39,1302_221,x\n\r", &controller);
    const CPELSignal* address = s39.get();
    handler->PutSignal(std::move(s39));
    Put(50031, "$ZQPEL,31,1302_221\n\r");
    ASSERT_TRUE(controller.WaitFor(50031));
    std::vector<CFakeController::Entry> back;
    for (const auto& p : controller.Posted())
        if (p.number == 50031 || p.number == 50039) back.push_back(p);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].payload, "$ZQPEL,39,1302_221,x\n\r");
    EXPECT_EQ(back[0].sender, &controller);
    EXPECT_EQ(back[0].address, address);  // the same signal, not a copy
    EXPECT_EQ(back[1].payload, "$ZQPEL,31,1302_221\n\r");
    EXPECT_TRUE(controller.AllAtBack());
}

TEST_F(ActiveHandler, PortClosedReportsAndTheHandlerPort) {
    Put(50087, "$ZQPEL,87,5081,closed by peer\n\r");
    Put(50087, "$ZQPEL,87,5083,\n\r");
    Put(50087, "$ZQPEL,87\n\r");  // fewer than three fields: nothing
    // From the handler's own port, as the distribution processes send.
    SendTo(23244, "$ZQPEL,87,5093\n\r");
    SendTo(23244, "$ZQPEL,60,from the port\n\r");
    SendTo(23244, "not a sentence");
    SendTo(23244, "$ZQPEL,-50001,");  // would be the wake-up signal: dropped
    SendTo(23244, "$ZQPEL,39,1302_221\n\r");
    EXPECT_EQ(drz.Next(), std::string("$ZQPEL,60,from the port\n\r"));
    ASSERT_TRUE(controller.WaitFor(50039));
    for (const auto& p : controller.Posted()) {
        if (p.number == 50039) {
            EXPECT_EQ(p.sender, handler.get());
            EXPECT_EQ(p.payload, "$ZQPEL,39,1302_221\n\r");
        }
    }
    ASSERT_TRUE(controller.WaitFor(50032, 3));  // one new-message notice per report
    EXPECT_EQ(env.Suite().Query("SELECT mess FROM arrivedMessagesString ORDER BY id"),
              (std::vector<std::vector<std::string>>{{"Port closed by 5081: closed by peer."},
                                                     {"Port closed by 5083."},
                                                     {"Port closed by 5093\n\r."}}));
    EXPECT_EQ(env.Suite().Query("SELECT number FROM arrivedMessages ORDER BY id"),
              (std::vector<std::vector<std::string>>{{"582"}, {"581"}, {"581"}}));
    // The datagram that is no sentence met the default job.
    EXPECT_TRUE(env.Capture().WaitFor("S: _UNKNOWN          ASt: ZPEL_ACTIVE"));
}

TEST_F(ActiveHandler, DestructionSendsQuitToXdrzThenDrz) {
    handler.reset();
    EXPECT_EQ(xdrz.Next(), std::string("$ZQPEL,24,\n\r"));
    EXPECT_EQ(drz.Next(), std::string("$ZQPEL,24,\n\r"));
    const std::string trace = env.Capture().Text();
    const size_t destructor = trace.find("Job: ~CZORHandl");
    const size_t ok = trace.find("Job: \n\tProcesses started by ZORHandl terminated OK.\n\r");
    const size_t end = trace.find("Data: \n\tZORHandl terminates.\n");
    EXPECT_LT(destructor, ok);
    EXPECT_LT(ok, end);
    EXPECT_NE(end, std::string::npos);
}

TEST(HandlerEndpoints, ADestroyedHandlerThatNeverStartedSendsNothing) {
    HandlerEnvironment env;
    UdpSink drz(10001), xdrz(10002);  // type 0, serial 0
    auto handler = env.MakeHandler("ZORH_0_0");
    handler->StartFsm(0);
    handler.reset();
    EXPECT_TRUE(drz.Quiet());
    EXPECT_TRUE(xdrz.Quiet());
    EXPECT_TRUE(env.Capture().WaitFor("terminated OK."));
}

}  // namespace
