// Login, the direct SQLite handle, failure reports and the debug files.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "DbTestHelpers.h"

namespace fs = std::filesystem;
using zortest::LoginOrFail;
using zortest::LoginQuietly;
using zortest::SuiteDb;

namespace {

TEST(DbAccess, LoginOpensTheDriversDatabaseFileBesideTheConnection) {
    SuiteDb suite({/*demo=*/true});
    CDBoperations db("ZOR");
    int result = -1;
    const std::string err = LoginQuietly(db, result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(err, "SQLite specific, ZOR: Opened database " + suite.DbPath() +
                       " successfully\n"
                       "SQLite specific, ZOR: Setting timeout 10000ms for database " +
                       suite.DbPath() + "\n");
    ASSERT_NE(db.SqliteHandle(), nullptr);
    EXPECT_EQ(std::string(sqlite3_db_filename(db.SqliteHandle(), "main")), suite.DbPath());

    // Both paths reach the same rows, one after the other.
    sqlite3_stmt* statement = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db.SqliteHandle(), "SELECT curr_conf_port FROM inst_sounders;", -1,
                                 &statement, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(statement, 0), 5000);
    sqlite3_finalize(statement);
    ASSERT_EQ(sqlite3_exec(db.SqliteHandle(), "UPDATE inst_sounders SET curr_conf_port = 5010;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    int version = 0;
    std::string name;
    EXPECT_EQ(db.getDbVersion(version, name), 0);
    EXPECT_EQ(suite.QueryInt("SELECT curr_conf_port FROM inst_sounders"), 5010);
}

TEST(DbAccess, LoginSeedsTheRepeatFilterWithEveryLanguage3Number) {
    SuiteDb suite;
    suite.Exec(
        "INSERT INTO messages VALUES (12, 3, 'a'), (7, 3, 'b'), (7, 1, 'c'), (99, 1, 'only 1');");
    CDBoperations db("ZOR");
    EXPECT_EQ(db.RepeatFilter().windowMs, 0);
    LoginOrFail(db);
    const MessageRepeatFilter& filter = db.RepeatFilter();
    EXPECT_EQ(filter.windowMs, 10000);
    EXPECT_EQ(filter.lastStamp, 0);
    EXPECT_EQ(filter.lastLogged, (std::map<int, int>{{7, 0}, {12, 0}}));
    EXPECT_EQ(filter.lastText, (std::map<int, std::string>{{7, " "}, {12, " "}}));
}

// Every way the data source can be unreachable ends in -1 within a bounded
// time, without SQLite lines, and the failure is on record. (A missing data
// source has its own test program: the driver manager remembers data-source
// lookups for a while, so it must be the first lookup of its process.)
TEST(DbAccess, UnreachableDataSourceFailsQuicklyAndIsReported) {
    enum class Fault { MissingDatabaseFile, LockedDatabase };
    struct Case {
        const char* name;
        Fault fault;
        // What the object writes to its debug file by the end of a later
        // statement. A locked database may refuse the driver's login itself
        // or only the first statement; both are fine.
        std::vector<std::string> reports;
    } cases[] = {
        {"missing database file",
         Fault::MissingDatabaseFile,
         {"506 (-2): select pid from process where processname = 'ZOR'\n"}},
        {"locked database",
         Fault::LockedDatabase,
         {"506 (-2): select pid from process where processname = 'ZOR'\n",
          "505 (-1): SELECT number FROM messages WHERE lang=3 ORDER BY number\n"
          "505 (-1): select pid from process where processname = 'ZOR'\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SuiteDb suite;
        sqlite3* locker = nullptr;
        if (c.fault == Fault::MissingDatabaseFile) suite.RemoveDatabaseFile();
        if (c.fault == Fault::LockedDatabase) {
            ASSERT_EQ(sqlite3_open(suite.DbPath().c_str(), &locker), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(locker, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr),
                      SQLITE_OK);
        }
        CDBoperations db("ZOR");
        int result = 0;
        const auto start = std::chrono::steady_clock::now();
        const std::string err = LoginQuietly(db, result);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(result, -1);
        EXPECT_LT(elapsed, std::chrono::seconds(5));
        EXPECT_EQ(err, "");
        EXPECT_EQ(db.SqliteHandle(), nullptr);

        int pid = 42;
        EXPECT_EQ(db.getProcessPid("ZOR", pid), -1);
        EXPECT_EQ(pid, 42);
        EXPECT_THAT(c.reports, testing::Contains(suite.DebugText("ZOR")));
        // The database file is never created behind the caller's back.
        if (c.fault == Fault::MissingDatabaseFile) {
            EXPECT_FALSE(fs::exists(suite.DbPath()));
        }
        if (locker != nullptr) {
            sqlite3_exec(locker, "ROLLBACK;", nullptr, nullptr, nullptr);
            sqlite3_close(locker);
        }
    }
}

TEST(DbAccess, MissingLoginTextsAreRefused) {
    SuiteDb suite;
    CDBoperations db("ZOR");
    EXPECT_EQ(db.connectDatabase(nullptr, "peluser", "tolbex4", nullptr), -1);
    EXPECT_EQ(db.connectDatabase("ZPELDB", nullptr, "tolbex4", nullptr), -1);
    EXPECT_EQ(db.connectDatabase("ZPELDB", "peluser", nullptr, nullptr), -1);
    EXPECT_FALSE(db.LoggedIn());
}

TEST(DbAccess, WithoutLoginTheVersionReadFailsSilently) {
    SuiteDb suite;
    CDBoperations db("ZOR");
    int version = 7;
    std::string name = "old";
    EXPECT_EQ(db.getDbVersion(version, name), -1);
    EXPECT_EQ(version, 7);
    EXPECT_EQ(name, "old");
    EXPECT_TRUE(db.DebugFilePath().empty());
    EXPECT_FALSE(fs::exists(suite.DebugFolder() + "db_ZOR_0.txt"));
}

TEST(DbAccess, DebugNameIsCutTo31CharactersAndReplacedAtLogin) {
    SuiteDb suite;
    const std::string name40 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
    const std::string name31 = name40.substr(0, 31);
    {
        CDBoperations db(name40.c_str());
        EXPECT_EQ(std::string(db.DebugName()), name31);
        int result = -1;
        const std::string err = LoginQuietly(db, result);
        ASSERT_EQ(result, 0);
        EXPECT_NE(err.find("SQLite specific, " + name31 + ": Opened database"), std::string::npos);
        DrzProcParams params;
        EXPECT_EQ(db.getDrzProcParams(1, 2, params), -1);
        EXPECT_EQ(db.DebugFilePath(), suite.DebugFolder() + "db_" + name31 + "_0.txt");
    }
    {
        // A handler's object: constructed "Unknown", renamed at login.
        CDBoperations db("Unknown");
        zortest::LoginOrFail(db, name40.c_str());
        EXPECT_EQ(std::string(db.DebugName()), name31);
        CDBoperations plain("Unknown");
        zortest::LoginOrFail(plain, "ZORhandl");
        EXPECT_STREQ(plain.DebugName(), "ZORhandl");
    }
}

// Where the first report of an object goes, given the debug files left by
// earlier runs.
TEST(DbAccess, DebugFilesRotateOverFortyNames) {
    struct Case {
        const char* name;
        std::vector<int> present;
        int written;
        int removed;
    } cases[] = {
        {"none present", {}, 0, 1},      {"gap after 2", {0, 1, 2, 5, 6}, 3, 4},
        {"gap at 0", {1, 2, 3}, 0, 1},   {"only 39 missing", {}, 39, 0},
        {"all forty present", {}, 0, 1},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.name);
        SuiteDb suite;
        if (std::string(c.name) == "only 39 missing") {
            for (int n = 0; n < 39; ++n) c.present.push_back(n);
        }
        if (std::string(c.name) == "all forty present") {
            for (int n = 0; n < 40; ++n) c.present.push_back(n);
        }
        for (int n : c.present) std::ofstream(CDBoperations::DebugFileName("ZOR", n)) << "old";

        CDBoperations db("ZOR");
        db.writeDebugText("first %s %d\n");
        db.writeDebugText("second\n");
        EXPECT_EQ(suite.DebugText("ZOR", c.written), "first %s %d\nsecond\n");
        EXPECT_FALSE(fs::exists(CDBoperations::DebugFileName("ZOR", c.removed)));
        for (int n : c.present) {
            if (n == c.written || n == c.removed) continue;
            EXPECT_EQ(suite.DebugText("ZOR", n), "old") << n;
        }
    }
}

TEST(DbAccess, ObjectsOfOneNameWriteToFilesOfTheirOwn) {
    // Every handler's database object has the same debug name; their first
    // reports may come at the same moment.
    SuiteDb suite;
    constexpr int kObjects = 8;
    std::vector<std::unique_ptr<CDBoperations>> objects;
    for (int i = 0; i < kObjects; ++i)
        objects.push_back(std::make_unique<CDBoperations>("ZORhandl"));
    std::vector<std::thread> threads;
    for (int i = 0; i < kObjects; ++i) {
        threads.emplace_back(
            [&, i] { objects[i]->writeDebugText(("report " + std::to_string(i) + "\n").c_str()); });
    }
    for (auto& t : threads) t.join();
    std::set<std::string> texts;
    for (int n = 0; n < kObjects; ++n) texts.insert(suite.DebugText("ZORhandl", n));
    EXPECT_EQ(texts.size(), static_cast<size_t>(kObjects));
    for (int i = 0; i < kObjects; ++i)
        EXPECT_EQ(texts.count("report " + std::to_string(i) + "\n"), 1u) << i;
}

TEST(DbAccess, AutocommitCanBeSwitchedAndCommitted) {
    SuiteDb suite;
    CDBoperations db("ZOR");
    LoginOrFail(db);
    int mode = -1;
    ASSERT_EQ(db.getAutoCommit(mode), 0);
    EXPECT_EQ(mode, 1);
    ASSERT_EQ(db.setAutoCommit(false), 0);
    ASSERT_EQ(db.getAutoCommit(mode), 0);
    EXPECT_EQ(mode, 0);

    ASSERT_EQ(db.registerPid(11, "PENDING"), 0);
    ASSERT_EQ(db.commitTransaction(), 0);
    EXPECT_EQ(suite.QueryInt("SELECT pid FROM pid_list WHERE proc_name='PENDING'"), 11);
    ASSERT_EQ(db.setAutoCommit(true), 0);
    ASSERT_EQ(db.getAutoCommit(mode), 0);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(db.commitTransaction(), 0);
}

TEST(DbAccess, AutocommitWithoutLoginIsReportedAs505) {
    SuiteDb suite;
    CDBoperations db("ZOR");
    int mode = 5;
    EXPECT_EQ(db.getAutoCommit(mode), -1);
    EXPECT_EQ(mode, 5);
    EXPECT_EQ(db.setAutoCommit(true), -1);
    EXPECT_EQ(db.commitTransaction(), -1);
    EXPECT_EQ(suite.DebugText("ZOR"), "505 (-2): \n505 (-2): \n505 (-2): \n");
}

}  // namespace
