// The real zor binary on the demo suite with the simulated peers, in a PID
// namespace of its own: what it starts and with which command lines, whom
// it greets, how it answers and relays, how it restarts a bridge, and how
// sentence 24 and Ctrl-C end it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QProcess>
#include <QThread>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ControlTestSupport.h"
#include "ZorOnDemoSuite.h"

namespace fs = std::filesystem;
using namespace controltest;
using zortest::CommandLines;
using zortest::Processes;
using zortest::ReadFile;

namespace {

const std::string kQuit = "$ZQPEL,24,\n\r";
const std::string kGreeting = "$ZQPEL,6,\n\r";

// A simulated peer started by the test itself.
class OwnPeer {
  public:
    OwnPeer(const fs::path& program, const QStringList& args, const fs::path& cwd) {
        m_process.setWorkingDirectory(QString::fromStdString(cwd.string()));
        m_process.start(QString::fromStdString(program.string()), args);
        m_process.waitForStarted(5000);
    }
    ~OwnPeer() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QProcess& Process() { return m_process; }

  private:
    QProcess m_process;
};

class ZorOnTheDemoSuite : public zortest::ZorOnDemoSuite {
  protected:
    void SetToken(const std::string& name, const std::string& value) {
        const fs::path file = run.DataFolder() / "PELTokens.json";
        std::string text = ReadFile(file);
        const size_t at = text.find("\"" + name + "\"");
        ASSERT_NE(at, std::string::npos);
        const size_t v = text.find("\"Value\": \"", at);
        ASSERT_NE(v, std::string::npos);
        const size_t start = v + 10, end = text.find('"', start);
        text.replace(start, end - start, value);
        std::ofstream(file) << text;
    }
    void SetGridEngine(int value) {
        std::ofstream(run.DataFolder() / "gui.ini") << "[RUNTIME]\nGRIDENGINE=" << value << "\n";
    }
};

TEST_F(ZorOnTheDemoSuite, StartsGreetsAnswersRelaysAndEndsOnSentence24) {
    // An RTCM logger and an old grid server already run; the GUI runs too.
    const fs::path suite(ZOR_SUITE_DIR);
    OwnPeer rtcm(suite / "Kestlog.exe", {"--port", "5081", "--journal", "rtcm.journal"},
                 run.WorkDir());
    OwnPeer oldGrid(suite / "Tessera.exe", {"--journal", "old-grid.journal"}, run.WorkDir());
    OwnPeer gui(suite / "PELMainApp.exe", {"--port", "4102", "--journal", "gui.journal"},
                run.WorkDir());
    ASSERT_TRUE(Eventually([&] {
        return fs::exists(run.WorkDir() / "rtcm.journal") &&
               fs::exists(run.WorkDir() / "old-grid.journal") &&
               fs::exists(run.WorkDir() / "gui.journal");
    }));
    fs::copy_file(suite / "Tessera.exe", run.WorkDir() / "Tessera.exe");

    CInbox guiPort(4002), applanix(5071), srh(5076), ssvCmd(5055), ssvData(5058), vmb(5093),
        spo(5094);
    Start();

    // Greetings: APPLANIX, SRH and (the IMU logger was started here) RTCM.
    EXPECT_EQ(applanix.Next(15000), std::optional<std::string>(kGreeting));
    EXPECT_EQ(srh.Next(), std::optional<std::string>(kGreeting));
    ASSERT_TRUE(Eventually(
        [&] { return Journal("rtcm.journal").find("$ZQPEL,6,\\n\\r") != std::string::npos; }));

    // What was started, exactly as started.
    const std::string bin = suite.string();
    const std::vector<std::string> bridges = {
        bin + "/RStoUDP.exe -com COM3,9600,8,N,1 -udpin 5601 -confsock 5000",
        bin +
            "/RStoUDP.exe -com COM4,4800,8,N,1 -udpin 5057 -udpout1 localhost,5058 -confsock "
            "5056",
        bin + "/RStoUDP.exe -com COM5,9600,8,N,1 -udpout 4001 -confsock 5010",
    };
    EXPECT_EQ(CommandLines("RStoUDP.exe"), bridges);
    EXPECT_EQ(CommandLines("Morvlog.exe"), std::vector<std::string>{"Morvlog.exe -name IMULOGGER"});
    // The running RTCM logger was not started again.
    EXPECT_EQ(CommandLines("Kestlog.exe").size(), 1u);
    // The old grid server was asked to shut down, and a new one started.
    ASSERT_TRUE(Eventually([&] {
        return fs::exists(run.WorkDir() / "Tessera.exe.9091.journal") &&
               !CommandLines("Tessera.exe").empty();
    }));
    EXPECT_NE(Journal("old-grid.journal").find("GET /v1/pelgridengine/api/service/shutdown"),
              std::string::npos);

    // The alive query, sentence 80, a garbled sentence, the running RTCM
    // logger asked for twice.
    SendUdp("$ZQPEL,100,\n\r", 4001);
    EXPECT_EQ(guiPort.Next(), std::optional<std::string>("$ZQPEL,101,\n\r"));
    SendUdp("$ZQPEL,80,1500.2,11.5,34.9\n\r", 4001);
    EXPECT_EQ(ssvData.Next(), std::optional<std::string>("$ZQPEL,43,1500.2,11.5,34.9,\r\n"));
    SendUdp("$ZQPEL,20,12:4\n\r", 4001);
    EXPECT_TRUE(Eventually([&] {
        const auto m = Messages();
        return std::find(m.begin(), m.end(),
                         "433 Garbled command sentence received: $ZQPEL,20,1...") != m.end();
    }));
    SendUdp("$ZQPEL,160,\n\r", 4001);
    SendUdp("$ZQPEL,160,\n\r", 4001);
    EXPECT_TRUE(Eventually([&] {
        const std::string j = Journal("rtcm.journal");
        const size_t first = j.find("$ZQPEL,15,\\n\\r");
        return first != std::string::npos &&
               j.find("$ZQPEL,15,\\n\\r", first + 1) != std::string::npos;
    }));

    // 150 starts APPLANIX_CTRL and is sent a second later; 151 at once.
    const auto sent150 = Clock::now();
    SendUdp("$ZQPEL,150,a\n\r", 4001);
    SendUdp("$ZQPEL,151,b\n\r", 4001);
    EXPECT_EQ(applanix.Next(), std::optional<std::string>("$ZQPEL,150,a\n\r"));
    EXPECT_GE(Clock::now() - sent150, std::chrono::milliseconds(950));
    EXPECT_EQ(applanix.Next(), std::optional<std::string>("$ZQPEL,151,b\n\r"));
    EXPECT_TRUE(TraceHas("Info: APPLANIX_CTRL process started"));

    // The end.
    SendUdp(kQuit, 4001);
    for (CInbox* inbox : {&srh, &ssvCmd, &applanix, &vmb, &spo}) {
        EXPECT_EQ(inbox->Next(), std::optional<std::string>(kQuit));
    }
    EXPECT_FALSE(guiPort.Next(200));
    // The GUI is killed, the grid server asked to stop.
    EXPECT_TRUE(Eventually([&] { return gui.Process().state() == QProcess::NotRunning; }));
    EXPECT_TRUE(Eventually([&] {
        return Journal("Tessera.exe.9091.journal")
                   .find("GET /v1/pelgridengine/api/service/shutdown") != std::string::npos;
    }));
    StopLeftovers();
    EXPECT_EQ(ExitCode(), 0) << run.Stderr();
    const std::string trace = Trace();
    EXPECT_NE(trace.find("Terminate Tessera"), std::string::npos);
    EXPECT_NE(trace.find("Processes started by ZORControl terminated OK."), std::string::npos);
    EXPECT_NE(trace.find("ZOR terminates."), std::string::npos);
}

TEST_F(ZorOnTheDemoSuite, CtrlCRunsTheSameShutdownAndTheTokenKeepsTheLoggersAway) {
    SetToken("RUNT_PARAM_RTCM_INIT_START_DISABLE", "1");
    SetGridEngine(0);  // a grid server is there to start, and is not started
    fs::copy_file(fs::path(ZOR_SUITE_DIR) / "Tessera.exe", run.WorkDir() / "Tessera.exe");
    CInbox applanix(5071), srh(5076), rtcm(5081), ssvCmd(5055);
    Start();
    EXPECT_EQ(applanix.Next(15000), std::optional<std::string>(kGreeting));
    EXPECT_EQ(srh.Next(), std::optional<std::string>(kGreeting));
    ASSERT_TRUE(TraceHas("Startet SVP Logger RS2UDP process"));
    EXPECT_FALSE(rtcm.Next(300));  // no logger was started: no greeting
    EXPECT_TRUE(CommandLines("Kestlog.exe").empty());
    EXPECT_TRUE(CommandLines("Morvlog.exe").empty());
    EXPECT_TRUE(CommandLines("Tessera.exe").empty());

    ::kill(static_cast<pid_t>(run.Process().processId()), SIGINT);
    EXPECT_EQ(srh.Next(), std::optional<std::string>(kQuit));
    EXPECT_EQ(ssvCmd.Next(), std::optional<std::string>(kQuit));
    EXPECT_EQ(applanix.Next(), std::optional<std::string>(kQuit));
    StopLeftovers();
    EXPECT_EQ(ExitCode(), 0) << run.Stderr();
    EXPECT_NE(Trace().find("Job: JobTerminate"), std::string::npos);
}

TEST_F(ZorOnTheDemoSuite, BridgeRestartsOneThatEndsAndOneThatNever) {
    // The keel bridge stays when told to quit (the peer's --stay).
    Sql("UPDATE ship_parameters SET KeelComParams = 'COM3,9600 --stay'");
    SetToken("RUNT_PARAM_RTCM_INIT_START_DISABLE", "1");
    SetGridEngine(0);
    Start();
    ASSERT_TRUE(TraceHas("Startet SVP Logger RS2UDP process"));
    auto tidePid = [] {
        for (const auto& [pid, line] : Processes("RStoUDP.exe"))
            if (line.find("-udpout 4001 -confsock 5010") != std::string::npos) return pid;
        return pid_t{0};
    };
    const pid_t oldTide = tidePid();
    ASSERT_NE(oldTide, 0);

    // Keel first (it will time out); the tide restart waits for it.
    SendUdp("$ZQPEL,72,\n\r", 4001);
    SendUdp("$ZQPEL,71,\n\r", 4001);
    ASSERT_TRUE(TraceHas("Job: JobKeelStartTimeout", 25000));
    EXPECT_NE(Trace().find("Timeout waiting for process Depth Below Keel RS2UDP with pid = "),
              std::string::npos);
    EXPECT_TRUE(Eventually([&] {
        const auto m = Messages();
        return std::find(m.begin(), m.end(), "428 ") != m.end();  // a number alone
    }));
    // The tide bridge was told to quit on its configuration port and
    // replaced.
    ASSERT_TRUE(TraceHas("S: TIDE_START_COMPL", 20000));
    const std::string trace = Trace();
    EXPECT_TRUE(Eventually([&] { return tidePid() != 0 && tidePid() != oldTide; }));
    EXPECT_LT(trace.find("Job: JobKeelStartTimeout"), trace.find("Job: JobPrepRestartTIDE"));

    SendUdp(kQuit, 4001);
    StopLeftovers();
    // The keel bridge that never quits would hold ZOR's end for 20 s.
    for (const auto& [pid, line] : Processes("RStoUDP.exe"))
        if (line.find("--stay") != std::string::npos) ::kill(pid, SIGKILL);
    EXPECT_EQ(ExitCode(), 0) << run.Stderr();
}

TEST_F(ZorOnTheDemoSuite, FailedLaunchesAreReportedAndZorCarriesOn) {
    // The bridge program is missing; APPLANIX_CTRL has no parameter row.
    Sql("UPDATE rs2udp_parameters SET rs_path = '/nonexistent/RStoUDP.exe'");
    Sql("DELETE FROM ath_proc_param");
    SetToken("RUNT_PARAM_RTCM_INIT_START_DISABLE", "1");
    SetGridEngine(0);
    CInbox gui(4002), applanix(5071);
    Start();
    EXPECT_EQ(applanix.Next(15000), std::optional<std::string>(kGreeting));
    SendUdp("$ZQPEL,150,x\n\r", 4001);
    EXPECT_EQ(applanix.Next(), std::optional<std::string>("$ZQPEL,150,x\n\r"));  // sent anyway
    SendUdp("$ZQPEL,100,\n\r", 4001);
    EXPECT_EQ(gui.Next(), std::optional<std::string>("$ZQPEL,101,\n\r"));
    const std::string trace = Trace();
    for (const char* line :
         {"ERROR: Not able to create Realtime Tide RS2UDP process, RESTART.",
          "ERROR: Not able to create Depth Below Keel RS2UDP process, RESTART.",
          "ERROR: Not able to create SVP Logger RS2UDP process, RESTART.",
          "ERROR: Not able to read APPLANIX_CTRL process parameters from PELDB. Try to restart."})
        EXPECT_NE(trace.find(line), std::string::npos) << line;
    EXPECT_TRUE(Eventually([&] {
        const auto m = Messages();
        // 447 once: its repeats within the repeat window are filtered.
        return std::count(m.begin(), m.end(), "447 ") == 1 &&
               std::count(m.begin(), m.end(), "560 ") == 1;
    })) << testing::PrintToString(Messages());
    SendUdp(kQuit, 4001);
    EXPECT_EQ(ExitCode(), 0) << run.Stderr();
}

TEST_F(ZorOnTheDemoSuite, CommandPortTakenEndsWithAFailure) {
    CInbox taken(4001);
    Start();
    EXPECT_NE(ExitCode(), 0);
    EXPECT_NE(run.Stderr().find("cannot bind the command port 4001: "), std::string::npos)
        << run.Stderr();
    // Nothing was started.
    EXPECT_EQ(Trace().find("RStoUDP argument"), std::string::npos);
    EXPECT_EQ(Trace().find("process started"), std::string::npos);
}

}  // namespace
