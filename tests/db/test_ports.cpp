// Sounder port allocation on the direct SQLite handle: the port handed out,
// what stays in inst_sounders, the standard-error lines, the ODBC
// connection's autocommit mode, and two processes allocating at once.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "DbTestHelpers.h"

extern char** environ;

using zortest::LoginOrFail;
using zortest::SuiteDb;

namespace {

const std::string kErrorLine =
    "\n#####Instantiation of echo sounder error, continues processing!\n";

class Ports : public testing::Test {
  protected:
    void SetUp() override { LoginOrFail(db); }

    void SetTable(int port, int increment, int limit) {
        suite.Exec(
            "DELETE FROM inst_sounders; INSERT INTO inst_sounders(curr_conf_port, "
            "curr_port_incr, curr_conf_port_lim) VALUES (" +
            std::to_string(port) + ", " + std::to_string(increment) + ", " + std::to_string(limit) +
            ");");
    }
    long long Stored() const { return suite.QueryInt("SELECT curr_conf_port FROM inst_sounders"); }

    // Allocates once; the port, and what went to standard error.
    int Allocate(std::string& err) {
        int port = 12345;
        testing::internal::CaptureStderr();
        const int result = db.allocateSounderPort(port);
        err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, 0);
        return port;
    }

    SuiteDb suite;
    CDBoperations db{"ZOR"};
};

TEST_F(Ports, HandsOutTheStoredPortAndAdvancesOrWrapsIt) {
    struct Case {
        int port, increment, limit;
        std::vector<std::pair<int, int>> allocations;  // port handed out, port stored after
    } cases[] = {
        {5000, 10, 6000, {{5000, 5010}, {5010, 5020}}},
        {6010, 10, 6000, {{6010, 5510}, {5510, 5520}}},
        // At the limit nothing wraps yet; the next allocation wraps.
        {6000, 10, 6000, {{6000, 6010}, {6010, 5510}}},
        {5995, 10, 6000, {{5995, 6005}, {6005, 5510}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.port) + "/" + std::to_string(c.increment) + "/" +
                     std::to_string(c.limit));
        SetTable(c.port, c.increment, c.limit);
        for (const auto& [handed, stored] : c.allocations) {
            std::string err;
            EXPECT_EQ(Allocate(err), handed);
            EXPECT_EQ(Stored(), stored);
            EXPECT_EQ(err, "");
        }
    }
    EXPECT_EQ(suite.DebugText("ZOR"), "");
}

TEST_F(Ports, AnEmptyTableGivesMinusOne) {
    suite.Exec("DELETE FROM inst_sounders;");
    std::string err;
    EXPECT_EQ(Allocate(err), -1);
    EXPECT_EQ(err, "");
    EXPECT_EQ(suite.QueryInt("SELECT count(*) FROM inst_sounders"), 0);
}

TEST(PortsWithoutSqlite, GiveZeroAndWriteNothing) {
    SuiteDb suite;
    CDBoperations db("ZOR");  // never logged in: no SQLite handle
    ASSERT_EQ(db.SqliteHandle(), nullptr);
    for (int i = 0; i < 2; ++i) {
        int port = 12345;
        testing::internal::CaptureStderr();
        EXPECT_EQ(db.allocateSounderPort(port), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(port, 0);
    }
    EXPECT_EQ(suite.DebugText("ZOR"), "");

    int value = 7;
    testing::internal::CaptureStderr();
    EXPECT_EQ(db.runSqliteStatement("SELECT 1;", value), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Can't prepare SQLite statement SELECT 1;: no database handle\n");
    EXPECT_EQ(value, 7);
}

TEST_F(Ports, FailingStatementsAreReportedAndTheAllocationGoesOn) {
    // No table at all: the read fails, nothing is updated.
    suite.Exec("DROP TABLE inst_sounders;");
    std::string err;
    EXPECT_EQ(Allocate(err), -1);
    EXPECT_EQ(err,
              "Can't prepare SQLite statement SELECT DISTINCT curr_conf_port FROM inst_sounders;: "
              "no such table: inst_sounders\n" +
                  kErrorLine);

    // No limit column: the limit read fails, the increment still runs.
    suite.Exec(
        "CREATE TABLE inst_sounders (curr_conf_port INTEGER, curr_port_incr INTEGER);"
        "INSERT INTO inst_sounders VALUES (7000, 5);");
    EXPECT_EQ(Allocate(err), 7000);
    EXPECT_EQ(Stored(), 7005);
    EXPECT_EQ(err,
              "Can't prepare SQLite statement SELECT curr_conf_port_lim FROM inst_sounders;: "
              "no such column: curr_conf_port_lim\n" +
                  kErrorLine);

    // No increment column: the port is handed out, the stored one stays.
    suite.Exec(
        "DROP TABLE inst_sounders;"
        "CREATE TABLE inst_sounders (curr_conf_port INTEGER, curr_conf_port_lim INTEGER);"
        "INSERT INTO inst_sounders VALUES (5000, 6000);");
    EXPECT_EQ(Allocate(err), 5000);
    EXPECT_EQ(Stored(), 5000);
    EXPECT_EQ(err,
              "Can't prepare SQLite statement UPDATE inst_sounders SET curr_conf_port = "
              "curr_conf_port + (SELECT curr_port_incr FROM inst_sounders);: no such column: "
              "curr_port_incr\n" +
                  kErrorLine);
    // ... and no transaction is left open behind it.
    EXPECT_NE(sqlite3_get_autocommit(db.SqliteHandle()), 0);
}

TEST_F(Ports, RunsOneStatement) {
    SetTable(5000, 10, 6000);
    struct Case {
        const char* statement;
        int result;
        int value;  // after the call; 99 = untouched
        std::string err;
    } cases[] = {
        {"SELECT curr_conf_port FROM inst_sounders;", 1, 5000, ""},
        {"SELECT curr_conf_port FROM inst_sounders WHERE 0;", 0, 99, ""},
        {"UPDATE inst_sounders SET curr_port_incr = 20;", 0, 99, ""},
        {"", 0, 99, ""},
        {"bogus", -1, 99, "Can't prepare SQLite statement bogus: near \"bogus\": syntax error\n"},
        {"INSERT INTO inst_sounders(id) VALUES (9);", -1, 99,
         "Can't execute SQLite statement INSERT INTO inst_sounders(id) VALUES (9);: NOT NULL "
         "constraint failed: inst_sounders.curr_conf_port\n"},
        {nullptr, 0, 99, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statement != nullptr ? c.statement : "(null)");
        int value = 99;
        testing::internal::CaptureStderr();
        EXPECT_EQ(db.runSqliteStatement(c.statement, value), c.result);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(value, c.value);
    }
    EXPECT_EQ(suite.QueryInt("SELECT curr_port_incr FROM inst_sounders"), 20);
}

TEST_F(Ports, AnOpenOdbcTransactionIsCommittedAndAutocommitRestored) {
    SetTable(5000, 10, 6000);
    ASSERT_EQ(db.setAutoCommit(false), 0);
    // A write in the open transaction holds the database's write lock.
    ASSERT_EQ(db.registerPid(4242, "SomeProcess"), 0);

    const auto before = std::chrono::steady_clock::now();
    std::string err;
    EXPECT_EQ(Allocate(err), 5000);
    // Had the transaction stayed open, the allocation would have waited out
    // the 10 s busy time-out and failed.
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    EXPECT_EQ(err, "");
    EXPECT_EQ(Stored(), 5010);
    // The row written before is committed: another connection sees it.
    EXPECT_EQ(suite.QueryInt("SELECT count(*) FROM pid_list WHERE pid = 4242"), 1);

    int mode = -1;
    ASSERT_EQ(db.getAutoCommit(mode), 0);
    EXPECT_EQ(mode, 0);
    ASSERT_EQ(db.setAutoCommit(true), 0);

    // With autocommit on, it stays on.
    EXPECT_EQ(Allocate(err), 5010);
    ASSERT_EQ(db.getAutoCommit(mode), 0);
    EXPECT_EQ(mode, 1);
}

// ---- two processes ----------------------------------------------------------

// Runs port_allocator and collects what it prints.
class Allocator {
  public:
    Allocator(int count, long long startMs, const std::string& errPath) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<std::string> args = {ZOR_PORT_ALLOCATOR, std::to_string(count),
                                         std::to_string(startMs)};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, ZOR_PORT_ALLOCATOR, &actions, nullptr, argv.data(), environ) !=
            0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        m_out = fds[0];
    }
    ~Allocator() {
        if (m_out >= 0) ::close(m_out);
        if (m_pid > 0) ::waitpid(m_pid, nullptr, 0);
    }
    Allocator(const Allocator&) = delete;
    Allocator& operator=(const Allocator&) = delete;

    // Reads to the end and waits for the child; its exit status or -1.
    int Finish(std::vector<int>& ports) {
        std::string text;
        char buffer[4096];
        ssize_t n;
        while (m_out >= 0 && (n = ::read(m_out, buffer, sizeof buffer)) > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            ports.push_back(line == "error" ? -2 : std::stoi(line));
        }
        if (m_pid <= 0) return -1;
        int status = 0;
        const pid_t pid = m_pid;
        m_pid = -1;
        if (::waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t m_pid = -1;
    int m_out = -1;
};

TEST(PortsAcrossProcesses, NeverHandTheSamePortTwice) {
    SuiteDb suite;
    // A limit far away: every port handed out must be new.
    suite.Exec(
        "DELETE FROM inst_sounders; INSERT INTO inst_sounders(curr_conf_port, curr_port_incr, "
        "curr_conf_port_lim) VALUES (10000, 1, 1000000);");
    constexpr int kEach = 300;
    const long long start = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count() +
                            1000;
    Allocator first(kEach, start, suite.Folder() + "first.err");
    Allocator second(kEach, start, suite.Folder() + "second.err");
    std::vector<int> a, b;
    EXPECT_EQ(first.Finish(a), 0);
    EXPECT_EQ(second.Finish(b), 0);
    ASSERT_EQ(a.size(), static_cast<std::size_t>(kEach));
    ASSERT_EQ(b.size(), static_cast<std::size_t>(kEach));

    std::set<int> all(a.begin(), a.end());
    all.insert(b.begin(), b.end());
    EXPECT_EQ(all.size(), static_cast<std::size_t>(2 * kEach)) << "a port was handed out twice";
    EXPECT_EQ(*all.begin(), 10000);
    EXPECT_EQ(*all.rbegin(), 10000 + 2 * kEach - 1);
    EXPECT_EQ(suite.QueryInt("SELECT curr_conf_port FROM inst_sounders"), 10000 + 2 * kEach);
    for (const char* name : {"first.err", "second.err"}) {
        const std::string err = SuiteDb::ReadFile(suite.Folder() + name);
        EXPECT_EQ(err.find("Can't"), std::string::npos) << err;
        EXPECT_EQ(err.find("#####"), std::string::npos) << err;
    }
}

}  // namespace
