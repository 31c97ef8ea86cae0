// The zor binary as a real process: help, start-up output, the heartbeat as
// it goes out on the wire, the logging configuration it picks up, and the
// orderly end on SIGINT/SIGTERM.

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

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

std::string JoinPattern(const std::string& pathTail) {
    // The program path is argument 0 and the words joined with '~'; the
    // binary is started by its absolute path, which is kept as it is.
    return R"(\$VMWDG,1,([0-9]+),20,ZOR,)" +
           std::regex_replace(std::string(ZOR_BINARY) + pathTail,
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
    run.Process().waitForFinished(300);
    EXPECT_EQ(run.Process().state(), QProcess::Running);  // still waiting
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
    // The period is the 10 s timer's, not the 500 ms single shot's; the
    // bounds leave room for a loaded machine.
    EXPECT_GE(second.atMs - first.atMs, 5000);
    EXPECT_LE(second.atMs - first.atMs, 15000);

    run.Process().terminate();  // SIGTERM
    Datagram leave;
    ASSERT_TRUE(watchdog.Next(leave, 10000));
    EXPECT_EQ(leave.text, "$VMWDG,2," + id + "\n");
    ASSERT_TRUE(run.Finish(10000));
    EXPECT_EQ(run.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.Process().exitCode(), 0);
    // With the debug window, Qt's messages go to standard output.
    EXPECT_NE(run.Stdout().find("\nZOR: Cleaning up after termination by OP system.\n"),
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

// ---- start-up against the demo suite database ------------------------------

namespace {

std::vector<std::pair<long long, std::string>> PidRows(const fs::path& db) {
    std::vector<std::pair<long long, std::string>> rows;
    sqlite3* handle = nullptr;
    if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(handle, "SELECT pid, proc_name FROM pid_list ORDER BY rowid", -1,
                               &statement, nullptr) == SQLITE_OK) {
            while (sqlite3_step(statement) == SQLITE_ROW) {
                const auto* name = sqlite3_column_text(statement, 1);
                rows.emplace_back(sqlite3_column_int64(statement, 0),
                                  name ? reinterpret_cast<const char*>(name) : "");
            }
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(handle);
    return rows;
}

// Runs zor with `words` until its first heartbeat (start-up is over by
// then), ends it with SIGTERM and returns its standard error.
std::string RunUntilFirstJoin(ProcessRun& run, UdpListener& watchdog, const QStringList& words,
                              qint64* pid = nullptr) {
    run.Start(words);
    if (pid) *pid = run.Process().processId();
    Datagram join;
    const bool joined = watchdog.Next(join, 20000);
    run.Process().terminate();
    run.Finish(10000);
    watchdog.Collect(100);
    EXPECT_TRUE(joined) << run.Stderr();
    EXPECT_EQ(run.Process().exitCode(), 0);
    return run.Stderr();
}

}  // namespace

TEST_F(ZorProcess, DatabaseStartUpTracesVersionAndCommandLineAndRegistersThePid) {
    UdpListener watchdog(kWatchdogPort);
    ProcessRun run;
    ASSERT_TRUE(run.MakeDemoDatabase());
    qint64 pid = 0;
    const std::string err = RunUntilFirstJoin(run, watchdog, {"-debug", "31"}, &pid);
    // With the debug window, Qt's messages go to standard output.
    EXPECT_NE(run.Stdout().find("ZOR running, Connecting to Database"), std::string::npos)
        << run.Stdout();
    const auto info = err.find("DATABASE INFO: ver. 742, proc. PEL 7.4.2 demo\n\n");
    ASSERT_NE(info, std::string::npos) << err;
    EXPECT_NE(err.find("argv = [" ZOR_BINARY " -debug 31 ]\n"), std::string::npos);
    const auto rows = PidRows(run.DatabaseFile());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].first, pid);
    EXPECT_EQ(rows[0].second, "ZOR");
}

TEST_F(ZorProcess, MaskZeroWritesNoDatabaseTraceAndRegistersUnderItsName) {
    UdpListener watchdog(kWatchdogPort);
    ProcessRun run;
    ASSERT_TRUE(run.MakeDemoDatabase());
    qint64 first = 0, second = 0;
    RunUntilFirstJoin(run, watchdog, {"-name", "ZOR7"}, &first);
    // A second run under the same name replaces the row of the first.
    const std::string err = RunUntilFirstJoin(run, watchdog, {"-name", "ZOR7"}, &second);
    EXPECT_EQ(err.find("DATABASE INFO"), std::string::npos);
    EXPECT_EQ(err.find("argv = ["), std::string::npos);
    const auto rows = PidRows(run.DatabaseFile());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].first, second);
    EXPECT_EQ(rows[0].second, "ZOR7");
}

TEST_F(ZorProcess, CommandLineOverAThousandCharactersIsCutInTheArgvLine) {
    UdpListener watchdog(kWatchdogPort);
    ProcessRun run;
    ASSERT_TRUE(run.MakeDemoDatabase());
    const QString word(700, 'q');
    const std::string err = RunUntilFirstJoin(run, watchdog, {"-debug", "31", word, word});
    const std::string full = std::string(ZOR_BINARY) + " -debug 31 " + word.toStdString() + " " +
                             word.toStdString() + " ";
    EXPECT_NE(err.find("argv = [" + full.substr(0, 1000) + "]\n"), std::string::npos) << err;
}

TEST_F(ZorProcess, MissingDataSourceDoesNotStopStartUp) {
    UdpListener watchdog(kWatchdogPort);
    ProcessRun run;  // its odbc.ini does not exist: no "ZPELDB"
    const std::string err = RunUntilFirstJoin(run, watchdog, {"-debug", "31"});
    EXPECT_NE(err.find("DATABASE INFO: ver. -1, proc. \n"), std::string::npos) << err;
    EXPECT_NE(err.find("argv = ["), std::string::npos);
    // The login failure is in the process database object's debug file.
    EXPECT_TRUE(fs::exists(run.Root() / "db_ZOR_0.txt"));
}
