// A data source that is not defined. The driver manager remembers the
// outcome of a data-source lookup for a while, so this runs as its own
// program, where it is the first lookup.

#include <gtest/gtest.h>

#include <chrono>

#include "DbTestHelpers.h"

using zortest::SuiteDb;

namespace {

TEST(DbMissingDataSource, LoginFailsAndEveryStatementReports506) {
    SuiteDb suite;
    suite.RemoveDataSource();
    CDBoperations db("ZOR");
    int result = 0;
    const auto start = std::chrono::steady_clock::now();
    const std::string err = zortest::LoginQuietly(db, result);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(result, -1);
    EXPECT_EQ(err, "") << "no SQLite lines without a login";
    EXPECT_EQ(db.SqliteHandle(), nullptr);
    EXPECT_FALSE(db.LoggedIn());

    int pid = 42;
    EXPECT_EQ(db.getProcessPid("ZOR", pid), -1);
    EXPECT_EQ(pid, 42);
    DrzProcParams drz;
    EXPECT_EQ(db.getDrzProcParams(1302, 221, drz), -1);
    EXPECT_EQ(db.registerPid(1, "ZOR"), -1);
    EXPECT_EQ(db.insertArrivedMessageString(20240611, 5, 3, "text"), -1);
    EXPECT_EQ(suite.DebugText("ZOR"),
              "506 (-2): select pid from process where processname = 'ZOR'\n"
              "506 (-2): select id,processname,drz_path,drz_argument_str,drz_send_socket_id,"
              "drz_recv_socket_id from zor_proc_param_drz_v where soundertype='1302' and "
              "serialnumber ='221'\n"
              "506 (-2): DELETE FROM pid_list WHERE proc_name = 'ZOR'\n"
              "506 (-2): INSERT INTO arrivedMessagesString(dateYYYYMMDD,millisecSinceMidnight,"
              "lang,mess) values (20240611,5,3,'text')\n");
}

}  // namespace
