// The zor binary as a real process: help, start-up output, the heartbeat as
// it goes out on the wire, the logging configuration it picks up, and the
// orderly end on SIGINT/SIGTERM.

#include <gtest/gtest.h>
#include <signal.h>

#include <QFileInfo>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "ProcessRun.h"
#include "UdpListener.h"

namespace fs = std::filesystem;

namespace {

constexpr quint16 kWatchdogPort = 33455;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string AppDir() {
    return QFileInfo(QStringLiteral(ZOR_BINARY)).canonicalPath().toStdString();
}

std::string JoinPattern(const std::string& pathTail) {
    // The program path is argument 0 and the words joined with '~'; Linux
    // paths hold no ':' so the application directory goes in front.
    return R"(\$VMWDG,1,([0-9]+),20,ZOR,)" +
           std::regex_replace(AppDir() + "/" + ZOR_BINARY + pathTail,
                              std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
           R"(,1,Running\*aa\n)";
}

class ZorProcess : public testing::Test {};

}  // namespace

TEST_F(ZorProcess, HelpPrintsDebugUsageAndEndsWithStatusZero) {
    ProcessRun run;
    run.Start({"-help"});
    run.Process().closeWriteChannel();  // the key it waits for never comes
    ASSERT_TRUE(run.Finish(20000));
    EXPECT_EQ(run.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.Process().exitCode(), 0);
    const std::string err = run.Stderr();
    EXPECT_NE(
        err.find("\nUsage for debug:\n\t[-name \"ZOR process name\" Name of the ZOR process]"),
        std::string::npos)
        << err;
    EXPECT_NE(err.find("\n\t[-noconsole               Use to turn off logging to console]"),
              std::string::npos);
    EXPECT_NE(err.find("Please press a key to close down program."), std::string::npos);
    // Help ends the run before anything else starts.
    EXPECT_EQ(err.find("Command Line Options"), std::string::npos);
    EXPECT_EQ(err.find("Connecting to Database"), std::string::npos);
}

TEST_F(ZorProcess, HelpWaitsForOneCharacter) {
    ProcessRun run;
    run.Start({"-help"});
    ASSERT_TRUE(run.WaitForStderr("Please press a key", 20000));
    EXPECT_FALSE(run.Process().waitForFinished(300));  // still waiting
    run.Process().write("x");
    ASSERT_TRUE(run.Finish(10000));
    EXPECT_EQ(run.Process().exitCode(), 0);
}

TEST_F(ZorProcess, HeartbeatAfterHalfASecondThenEveryTenSecondsAndLeaveOnSigterm) {
    UdpListener watchdog(kWatchdogPort);
    ASSERT_TRUE(watchdog.Bound());
    ProcessRun run;
    const qint64 startedAt = watchdog.NowMs();
    run.Start({"-debug", "31"});

    Datagram first;
    ASSERT_TRUE(watchdog.Next(first, 15000)) << run.Stderr();
    const qint64 firstAfter = first.atMs - startedAt;
    EXPECT_GE(firstAfter, 450);
    EXPECT_LE(firstAfter, 10000);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(first.text, match, std::regex(JoinPattern("~-debug~31"))))
        << first.text;
    const std::string id = match[1];

    Datagram second;
    ASSERT_TRUE(watchdog.Next(second, 15000));
    EXPECT_EQ(second.text, first.text);
    // The repeating timer started just before the 500 ms single shot.
    EXPECT_GE(second.atMs - first.atMs, 8500);
    EXPECT_LE(second.atMs - first.atMs, 11000);

    run.Process().terminate();  // SIGTERM
    Datagram leave;
    ASSERT_TRUE(watchdog.Next(leave, 10000));
    EXPECT_EQ(leave.text, "$VMWDG,2," + id + "\n");
    ASSERT_TRUE(run.Finish(10000));
    EXPECT_EQ(run.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.Process().exitCode(), 0);
    EXPECT_NE(run.Stderr().find("\nZOR: Cleaning up after termination by OP system.\n"),
              std::string::npos);
}

TEST_F(ZorProcess, StartUpOutputAndSigintWithMaskZero) {
    UdpListener watchdog(kWatchdogPort);
    ProcessRun run;
    run.Env().insert("ZOR_LOGNAME", "/tmp/zl.txt");
    run.Start({"-suspendproc", "2", "-name"});
    Datagram join;
    ASSERT_TRUE(watchdog.Next(join, 15000)) << run.Stderr();
    EXPECT_TRUE(std::regex_match(join.text, std::regex(JoinPattern("~-suspendproc~2~-name"))))
        << join.text;

    ::kill(static_cast<pid_t>(run.Process().processId()), SIGINT);
    Datagram leave;
    ASSERT_TRUE(watchdog.Next(leave, 10000));
    EXPECT_EQ(leave.text.rfind("$VMWDG,2,", 0), 0u);
    ASSERT_TRUE(run.Finish(10000));
    EXPECT_EQ(run.Process().exitCode(), 0);

    const std::string err = run.Stderr();
    const std::string echo =
        "------------------------------------------------------------\n"
        "- Command Line Options (default values if not set)\n"
        "------------------------------------------------------------\n"
        "- Process Name              : ZOR\n"
        "- Debug                     : 0x0\n"
        "- Suspend Process           : 2\n"
        "- Log file                  : /tmp/zl.txt\n"
        "- noconsole                 : 0\n"
        "------------------------------------------------------------\n"
        "ZOR running, Connecting to Database and Starting FSM Framework...\n";
    EXPECT_NE(err.find(echo), std::string::npos) << err;
    // No trace log with mask 0.
    EXPECT_EQ(err.find("argv = ["), std::string::npos);
    EXPECT_EQ(err.find("DATABASE INFO"), std::string::npos);
}

TEST_F(ZorProcess, SampleLogConfigurationInTheDataFolderIsUsed) {
    UdpListener watchdog(kWatchdogPort);
    ProcessRun run;
    fs::copy_file(ZOR_SAMPLE_LOG_CONFIG, run.DataFolder() / "log4cplus_configureZOR.ini");
    run.Start({"-debug", "31", "-noconsole"});
    Datagram join;
    ASSERT_TRUE(watchdog.Next(join, 15000)) << run.Stderr();
    run.Process().terminate();
    ASSERT_TRUE(run.Finish(10000));

    EXPECT_NE(ReadFile(run.WorkDir() / "log" / "zor.log").find("INFO  ZOR - Start ZOR"),
              std::string::npos);
    EXPECT_NE(run.Stdout().find("INFO  ZOR - Start ZOR"), std::string::npos);
    // The trace goes to its own file; -noconsole keeps it off standard error.
    EXPECT_NE(ReadFile(run.WorkDir() / "log" / "zor-trace.log")
                  .find("argv = [" ZOR_BINARY " -debug 31 -noconsole ]"),
              std::string::npos);
    EXPECT_EQ(run.Stderr().find("argv = ["), std::string::npos);
}

TEST_F(ZorProcess, WorkingDirectoryConfigurationWhenTheDataFolderHasNone) {
    UdpListener watchdog(kWatchdogPort);
    ProcessRun run;
    fs::remove_all(run.ProgramData());  // the data folder does not exist
    fs::copy_file(ZOR_SAMPLE_LOG_CONFIG, run.WorkDir() / "log4cplus_configureZOR.ini");
    run.Start({});
    Datagram join;
    ASSERT_TRUE(watchdog.Next(join, 15000)) << run.Stderr();
    run.Process().terminate();
    ASSERT_TRUE(run.Finish(10000));
    EXPECT_NE(ReadFile(run.WorkDir() / "log" / "zor.log").find("Start ZOR"), std::string::npos);
}

TEST_F(ZorProcess, HostileCommandLinesStillStart) {
    UdpListener watchdog(kWatchdogPort);
    const QStringList lines[] = {
        {"-debug"},
        {"-debug", "abc", "-suspendproc", "zz", "-logfile"},
        {QString(5000, 'x'), "-name", QString(3000, 'n'), "--", "-", "%s%n%x"},
    };
    for (const auto& words : lines) {
        ProcessRun run;
        run.Env().insert("ZOR_LOGNAME", QString(20000, 'L'));
        run.Start(words);
        Datagram join;
        ASSERT_TRUE(watchdog.Next(join, 15000)) << run.Stderr();
        EXPECT_EQ(join.text.rfind("$VMWDG,1,", 0), 0u);
        run.Process().terminate();
        ASSERT_TRUE(run.Finish(10000));
        EXPECT_EQ(run.Process().exitCode(), 0);
        watchdog.Collect(100);  // the leave
    }
}
