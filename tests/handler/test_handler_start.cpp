// The start of a sounder handler against the demo suite database with the
// simulated DRZ and XDRZ programs: exact command lines, ports, the greeting
// four seconds later, the suspend modes, missing database rows, a missing
// or crashing DRZ program, and a destructor whose peer never ends. Runs in
// PID and network namespaces of its own.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "HandlerFactory.h"
#include "HandlerTestSupport.h"

namespace {

using namespace handler_test;
using H = CZORHandl;
using Rows = std::vector<std::vector<std::string>>;
using Words = std::vector<std::string>;
using SteadyClock = std::chrono::steady_clock;

const std::string kBin = ZOR_SUITE_BIN;

// The lines of a peer's journal without their stamps.
Words Journal(const std::string& path) {
    Words lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t blank = line.find(' ');
        lines.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
    }
    return lines;
}

// Waits (at most `ms`) until the journal holds `line`.
bool WaitForJournal(const std::string& path, const std::string& line, int ms = 10000) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(ms);
    do {
        for (const auto& l : Journal(path))
            if (l == line) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (SteadyClock::now() < deadline);
    return false;
}

Words Cmdline(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Words words;
    std::string word;
    for (char c : all) {
        if (c == '\0') {
            words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    return words;
}

class HandlerStart : public ::testing::Test {
  protected:
    explicit HandlerStart(int suspend = platform::kSuspendNone) : env(suspend) {}

    void SetUp() override {
        // The demo rows name the simulated peers' folder of the build.
        env.Suite().Exec("UPDATE distribution_process SET path = replace(path, '" +
                         zortest::SuiteDb::DemoBinFolder() + "', '" + kBin + "')");
    }
    void TearDown() override {
        handlers.clear();
        for (int pid : StartedPids()) ::kill(pid, SIGKILL);
    }

    // As the controller makes and starts a handler for a start-list item.
    CZORHandl& Start(uint16_t type, uint16_t serial) {
        std::unique_ptr<CFsmBase> made =
            MakeSounderHandler("ZORH_" + std::to_string(type) + "_" + std::to_string(serial),
                               &env.Trace(), 31, env.Context());
        handlers.emplace_back(static_cast<CZORHandl*>(made.release()));
        CZORHandl& handler = *handlers.back();
        handler.PutSignal(HandlerEnvironment::InitParam(&controller, type, serial));
        return handler;
    }

    int Pid(const std::string& name) {
        const Rows rows =
            env.Suite().Query("SELECT pid FROM pid_list WHERE proc_name = '" + name + "'");
        return rows.size() == 1 ? std::stoi(rows[0][0]) : -1;
    }
    std::vector<int> StartedPids() {
        std::vector<int> pids;
        for (const auto& row : env.Suite().Query("SELECT pid FROM pid_list"))
            pids.push_back(std::stoi(row[0]));
        return pids;
    }
    std::string JournalPath(const std::string& image, int port) {
        return env.Suite().Folder() + image + "." + std::to_string(port) + ".journal";
    }

    HandlerEnvironment env;
    CFakeController controller;
    std::vector<std::unique_ptr<CZORHandl>> handlers;
};

TEST_F(HandlerStart, TwoSoundersStartTheirProcessesAndAreGreeted) {
    const auto started = SteadyClock::now();
    Start(1302, 221);
    Start(1602, 60);
    const struct {
        const char* name;
        Words argv;
        std::string journal;
    } expected[] = {
        {"DRZ_1302_221",
         {kBin + "/drzdist.exe", "-name", "DRZ_1302_221", "--port", "23242", "--answer-to", "23244",
          "-soundertype", "4"},
         JournalPath("drzdist.exe", 23242)},
        {"XDRZ_1302_221",
         {kBin + "/XDRZ.exe", "-name", "XDRZ_1302_221", "--port", "23243", "--answer-to", "23244"},
         JournalPath("XDRZ.exe", 23243)},
        {"DRZ_1602_60",
         {kBin + "/drzdist.exe", "-name", "DRZ_1602_60", "--port", "12061", "--answer-to", "12063",
          "-soundertype", "4"},
         JournalPath("drzdist.exe", 12061)},
        {"XDRZ_1602_60",
         {kBin + "/XDRZ.exe", "-name", "XDRZ_1602_60", "--port", "12062", "--answer-to", "12063"},
         JournalPath("XDRZ.exe", 12062)},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.name);
        ASSERT_TRUE(WaitForJournal(e.journal, "$ZQPEL,6,\\n\\r"));
        const int pid = Pid(e.name);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(Cmdline(pid), e.argv);
    }
    EXPECT_GE(SteadyClock::now() - started, std::chrono::milliseconds(3900));

    // Both handler ports are bound by the handlers.
    EXPECT_FALSE(UdpSink(23244).Bound());
    EXPECT_FALSE(UdpSink(12063).Bound());

    // Logging reaches the DRZ of its own sounder only; TIDE every XDRZ.
    handlers[1]->PutSignal(HandlerEnvironment::Sentence(50022, "$ZQPEL,22,1602_60:0\n\r"));
    for (auto& h : handlers) h->PutSignal(HandlerEnvironment::Sentence(59100, "$GPTIDE,0.5\r\n"));
    EXPECT_TRUE(WaitForJournal(JournalPath("XDRZ.exe", 12062), "$ZQPEL,7,\\n\\r"));
    EXPECT_TRUE(WaitForJournal(JournalPath("XDRZ.exe", 23243), "$GPTIDE,0.5\\r\\n"));
    EXPECT_TRUE(WaitForJournal(JournalPath("XDRZ.exe", 12062), "$GPTIDE,0.5\\r\\n"));

    // Destruction: 24 to XDRZ, then DRZ; the peers end well within 20 s.
    const auto before = SteadyClock::now();
    const int drz = Pid("DRZ_1302_221");
    handlers.clear();
    EXPECT_LT(SteadyClock::now() - before, std::chrono::seconds(10));
    EXPECT_FALSE(platform::IsProcessRunning(drz));
    const Words x = Journal(JournalPath("XDRZ.exe", 23243));
    ASSERT_FALSE(x.empty());
    EXPECT_EQ(x.back(), "$ZQPEL,24,\\n\\r");
    EXPECT_EQ(Journal(JournalPath("drzdist.exe", 23242)).back(), "$ZQPEL,24,\\n\\r");
    EXPECT_NE(env.Capture().Text().find("Processes started by ZORHandl terminated OK."),
              std::string::npos);
}

TEST_F(HandlerStart, AnswerOfTheDrzComesBackThroughTheHandlerPort) {
    env.Suite().Exec(
        "UPDATE distribution_process SET argument_str = argument_str || "
        "' --answer $ZQPEL,6,\\n\\r $ZQPEL,39,1302_221,ready\\n\\r' WHERE id = 1");
    CZORHandl& handler = Start(1302, 221);
    ASSERT_TRUE(controller.WaitFor(50039, 1, 15000));
    for (const auto& p : controller.Posted()) {
        if (p.number == 50039) {
            EXPECT_EQ(p.payload, "$ZQPEL,39,1302_221,ready\n\r");
            EXPECT_EQ(p.sender, &handler);
        }
    }
}

TEST_F(HandlerStart, MissingRowsEndTheHandlerWithTheirMessages) {
    const struct {
        const char* what;
        const char* fault;
        int message;
        const char* text;
    } cases[] = {
        {"DRZ row", "DELETE FROM distribution_process WHERE sounder_id = 1 AND kind = 'DRZ'", 455,
         "DRZ process parameters could not be read for echo sounder type 1302, serial number 221."},
        {"XDRZ row", "DELETE FROM distribution_process WHERE sounder_id = 1 AND kind = 'XDRZ'", 456,
         "XDRZ process parameters could not be read for echo sounder type 1302, serial number "
         "221."},
        {"DRZ parameter row", "UPDATE process SET processname = 'drz_1302_221' WHERE pid = 101",
         461,
         "DRZ raw-data parameters could not be read for echo sounder type 1302, serial number "
         "221."},
    };
    const std::string demo = env.Suite().DbPath() + ".demo";
    env.Suite().Exec("VACUUM INTO '" + demo + "'");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        env.Suite().Exec(
            "DELETE FROM distribution_process; DELETE FROM process;"
            "DELETE FROM arrivedMessages; DELETE FROM arrivedMessagesString;"
            "ATTACH '" +
            demo +
            "' AS d;"
            "INSERT INTO process SELECT * FROM d.process;"
            "INSERT INTO distribution_process SELECT * FROM d.distribution_process;"
            "DETACH d;");
        env.Suite().Exec(c.fault);
        const size_t before = controller.CountOf(H::kTerminated);
        CZORHandl& handler = Start(1302, 221);
        ASSERT_TRUE(controller.WaitFor(H::kTerminated, before + 1));
        EXPECT_TRUE(env.Capture().WaitFor("St:  ZPEL_DBINIT     --> CLOSEDOWN"));
        EXPECT_EQ(env.Suite().Query("SELECT number FROM arrivedMessages"),
                  (Rows{{std::to_string(c.message)}}));
        EXPECT_EQ(env.Suite().Query("SELECT mess FROM arrivedMessagesString"), (Rows{{c.text}}));
        EXPECT_TRUE(StartedPids().empty());
        EXPECT_TRUE(handler.DrzEndpoint().empty());
        handlers.clear();
        env.Capture().Clear();
    }
}

TEST_F(HandlerStart, AMissingDrzProgramStartsNothingAndEndsTheHandler) {
    env.Suite().Exec(
        "UPDATE distribution_process SET path = '/nonexistent/drzdist.exe' WHERE id = 1");
    CZORHandl& handler = Start(1302, 221);
    ASSERT_TRUE(controller.WaitFor(H::kTerminated));
    ASSERT_TRUE(env.Capture().WaitFor("St:  ZPEL_START_HAND --> CLOSEDOWN"));
    EXPECT_EQ(env.Suite().Query("SELECT number FROM arrivedMessages"), (Rows{{"466"}}));
    EXPECT_TRUE(StartedPids().empty());  // XDRZ was not started either
    EXPECT_EQ(handler.DrzEndpoint(), "127.0.0.1:23242");
    EXPECT_EQ(handler.XdrzEndpoint(), "127.0.0.1:23243");
    EXPECT_FALSE(UdpSink(23244).Bound());  // the handler's port is still opened
    const std::string trace = env.Capture().Text();
    EXPECT_NE(trace.find("Data: \n\tERROR: Not able to create DRZ process. Try to restart."),
              std::string::npos);
    EXPECT_EQ(trace.find("START_COMPL"), std::string::npos);  // no timer started
}

TEST_F(HandlerStart, ACrashedDrzDoesNotStopTheRelays) {
    Start(1302, 221);
    ASSERT_TRUE(WaitForJournal(JournalPath("XDRZ.exe", 23243), "$ZQPEL,6,\\n\\r"));
    const int drz = Pid("DRZ_1302_221");
    ASSERT_GT(drz, 0);
    ::kill(drz, SIGKILL);
    for (int i = 0; i < 3; ++i) {
        handlers[0]->PutSignal(HandlerEnvironment::Sentence(50471, "$ZQPEL,471,1302_221\n\r"));
        handlers[0]->PutSignal(HandlerEnvironment::Sentence(50020, "$ZQPEL,20,1302_221:1,0\n\r"));
    }
    handlers[0]->PutSignal(HandlerEnvironment::Sentence(59100, "$GPTIDE,after\r\n"));
    EXPECT_TRUE(WaitForJournal(JournalPath("XDRZ.exe", 23243), "$GPTIDE,after\\r\\n"));
    // Still active: the relays after the crash met their rows.
    EXPECT_EQ(env.Capture().Text().find("ZPEL_ACTIVE     --> CLOSEDOWN"), std::string::npos);
    EXPECT_EQ(env.Capture().Text().find("Job: JobDisregardSig"), std::string::npos);
}

// A peer that never ends on 24: the destructor gives up after 20 s.
TEST_F(HandlerStart, TheDestructorWaitsTwentySecondsAtMost) {
    env.Suite().Exec(
        "UPDATE distribution_process SET argument_str = argument_str || ' --stay' WHERE id = 2");
    Start(1302, 221);
    ASSERT_TRUE(WaitForJournal(JournalPath("XDRZ.exe", 23243), "$ZQPEL,6,\\n\\r"));
    const int xdrz = Pid("XDRZ_1302_221");
    const auto before = SteadyClock::now();
    handlers.clear();
    const auto took = SteadyClock::now() - before;
    RecordProperty(
        "destructor_ms",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    EXPECT_GE(took, std::chrono::milliseconds(19900));
    EXPECT_LT(took, std::chrono::seconds(25));
    EXPECT_TRUE(platform::IsProcessRunning(xdrz));
    EXPECT_TRUE(WaitForJournal(JournalPath("XDRZ.exe", 23243), "$ZQPEL,24,\\n\\r"));
    const std::string trace = env.Capture().Text();
    EXPECT_NE(trace.find("Data: \n\tError: Processes started by ZORHandl not terminated "
                         "correctly.\n\r"),
              std::string::npos);
    EXPECT_NE(trace.find("Data: \n\tZORHandl terminates.\n"), std::string::npos);
}

// The suspend modes: which processes start, and the handler still greets
// both ports.
class SuspendedStart : public HandlerStart, public ::testing::WithParamInterface<int> {
  protected:
    SuspendedStart() : HandlerStart(GetParam()) {}
};

TEST_P(SuspendedStart, StartsWhatTheModeAllows) {
    const int mode = GetParam();
    UdpSink* drzSink = nullptr;
    UdpSink* xdrzSink = nullptr;
    std::unique_ptr<UdpSink> a, b;
    const bool drz = mode != 1 && mode != 3;
    const bool xdrz = mode != 1 && mode != 2;
    // Where no process runs, a socket of the test stands in for it.
    if (!drz) drzSink = (a = std::make_unique<UdpSink>(23242)).get();
    if (!xdrz) xdrzSink = (b = std::make_unique<UdpSink>(23243)).get();
    Start(1302, 221);
    const std::optional<std::string> greeting("$ZQPEL,6,\n\r");
    if (drzSink) {
        EXPECT_EQ(drzSink->Next(), greeting);
    }
    if (xdrzSink) {
        EXPECT_EQ(xdrzSink->Next(), greeting);
    }
    if (drz) {
        EXPECT_TRUE(WaitForJournal(JournalPath("drzdist.exe", 23242), "$ZQPEL,6,\\n\\r"));
    }
    if (xdrz) {
        EXPECT_TRUE(WaitForJournal(JournalPath("XDRZ.exe", 23243), "$ZQPEL,6,\\n\\r"));
    }
    EXPECT_EQ(Pid("DRZ_1302_221") > 0, drz);
    EXPECT_EQ(Pid("XDRZ_1302_221") > 0, xdrz);
}

INSTANTIATE_TEST_SUITE_P(Modes, SuspendedStart, ::testing::Values(0, 1, 2, 3, 7));

}  // namespace
