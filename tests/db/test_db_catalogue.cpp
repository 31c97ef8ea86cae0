// The query catalogue against the demo suite and hand-made rows: rows that
// exist, rows that are missing, values longer than their fields, and text
// parameters that try to change a statement.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "DbTestHelpers.h"

using zortest::LoginOrFail;
using zortest::SuiteDb;

namespace {

class Catalogue : public testing::Test {
  protected:
    void SetUp() override { LoginOrFail(db); }
    std::string Report() const { return suite.DebugText("ZOR"); }

    SuiteDb suite{SuiteDb::Options{/*demo=*/true}};
    CDBoperations db{"ZOR"};
};

TEST_F(Catalogue, DistributionProcessRowsOfASounder) {
    DrzProcParams drz;
    ASSERT_EQ(db.getDrzProcParams(1302, 221, drz), 0);
    EXPECT_EQ(drz.id, 1);
    EXPECT_STREQ(drz.processname, "DRZ_1302_221");
    EXPECT_EQ(std::string(drz.drz_path), SuiteDb::DemoBinFolder() + "/drzdist.exe");
    EXPECT_STREQ(drz.drz_argument_str, "--port 23242 --answer-to 23244");
    EXPECT_EQ(drz.drz_send_socket_id, 12);
    EXPECT_EQ(drz.drz_recv_socket_id, 11);

    XdrzProcParams xdrz;
    ASSERT_EQ(db.getXdrzProcParams(1602, 60, xdrz), 0);
    EXPECT_STREQ(xdrz.processname, "XDRZ_1602_60");
    EXPECT_EQ(std::string(xdrz.xdrz_path), SuiteDb::DemoBinFolder() + "/XDRZ.exe");
    EXPECT_STREQ(xdrz.xdrz_argument_str, "--port 12062 --answer-to 12063");
    EXPECT_EQ(xdrz.xdrz_send_socket_id, 18);
    EXPECT_EQ(xdrz.xdrz_recv_socket_id, 17);

    DrzAllParams all;
    ASSERT_EQ(db.getDrzAllParams("drz_1302_221", all), 0);
    EXPECT_EQ(all.soundertype, 1302);
    EXPECT_EQ(all.serialnumber, 221);
    EXPECT_EQ(std::string(all.rawdata_location), suite.Folder() + "rawdata/1302_221");
    EXPECT_STREQ(all.rawdata_location_structure, "survey/yyyy/mm/dd");
    EXPECT_STREQ(all.file_name_structure, "counter_yyyymmdd_hhmmss_vessel");
    EXPECT_STREQ(all.comment, "demo sounder, deep water");
    EXPECT_EQ(Report(), "");
}

// A missing row is a 505 with the SQL_NO_DATA prefix and the statement; the
// caller's record stays as it was.
TEST_F(Catalogue, MissingRowsAreReportedAndLeaveRecordsAlone) {
    struct Case {
        const char* name;
        std::function<int()> run;
        const char* report;
    };
    DrzProcParams drz;
    std::strcpy(drz.processname, "kept");
    XdrzProcParams xdrz;
    std::strcpy(xdrz.processname, "kept");
    DrzAllParams all;
    std::strcpy(all.comment, "kept");
    AuxProcParams aux;
    std::strcpy(aux.path, "kept");
    std::string value = "kept";
    const Case cases[] = {
        {"drz", [&] { return db.getDrzProcParams(1302, 222, drz); },
         "505: (SQL_NO_DATA): select id,processname,drz_path,drz_argument_str,drz_send_socket_id,"
         "drz_recv_socket_id from zor_proc_param_drz_v where soundertype='1302' and "
         "serialnumber ='222'\n"},
        {"xdrz", [&] { return db.getXdrzProcParams(9, 1, xdrz); },
         "505: (SQL_NO_DATA): select processname,xdrz_path,xdrz_argument_str,xdrz_send_socket_id,"
         "xdrz_recv_socket_id from zor_proc_param_xdrz_v where soundertype='9' and "
         "serialnumber ='1'\n"},
        {"drz all", [&] { return db.getDrzAllParams("XDRZ_1302_221", all); },
         "505: (SQL_NO_DATA): select soundertype, serialnumber, rawdata_location, "
         "rawdata_location_structure, file_name_structure, comment from drz_all_parameters_v "
         "where processname=upper('XDRZ_1302_221')\n"},
        {"ath", [&] { return db.getAthProcParams("Survey admin", aux); },
         "505: (SQL_NO_DATA): SELECT ath_path, ath_argument_str FROM ath_proc_param, users WHERE "
         "users.name = 'Survey admin' AND users.id = ath_proc_param.id \n"},
        {"srh", [&] { return db.getSrhProcParams("nobody", aux); },
         "505: (SQL_NO_DATA): SELECT srh_path, srh_argument_str FROM srh_proc_param, users WHERE "
         "users.name = 'nobody' AND users.id = srh_proc_param.id \n"},
        {"terratec", [&] { return db.getTerratecProcParams("nobody", aux); },
         "505: (SQL_NO_DATA): SELECT terratec_path, terratec_argument_str FROM "
         "terratec_proc_param, users WHERE users.name = 'nobody' AND users.id = "
         "terratec_proc_param.id \n"},
        {"rs2udp",
         [&] {
             suite.Exec("DELETE FROM rs2udp_parameters;");
             Rs2UdpParams rs;
             return db.getRs2UdpParams(rs);
         },
         "505: (SQL_NO_DATA): select rs_pid, rs_path, rs_argument_str, rs_port, comment from "
         "rs2udp_parameters\n"},
        {"ship",
         [&] {
             suite.Exec("DELETE FROM ship_parameters;");
             return db.getShipParameter("TideComParams", value);
         },
         "505: (SQL_NO_DATA): select TideComParams from ship_parameters\n"},
        {"no such column", [&] { return db.getShipParameter("NoSuchColumn", value); },
         "505 (-1): select NoSuchColumn from ship_parameters\n"},
    };
    std::string expected;
    for (const Case& c : cases) {
        EXPECT_EQ(c.run(), -1) << c.name;
        expected += c.report;
        EXPECT_EQ(Report(), expected) << c.name;
    }
    EXPECT_STREQ(drz.processname, "kept");
    EXPECT_STREQ(xdrz.processname, "kept");
    EXPECT_STREQ(all.comment, "kept");
    EXPECT_STREQ(aux.path, "kept");
    EXPECT_EQ(value, "kept");
}

TEST_F(Catalogue, AuxiliaryProgramsOfTheUser) {
    AuxProcParams aux;
    ASSERT_EQ(db.getAthProcParams("ZQ user", aux), 0);
    EXPECT_EQ(std::string(aux.path), SuiteDb::DemoBinFolder() + "/Tandlog.exe");
    EXPECT_STREQ(aux.argument_str, "-role applanix");
    ASSERT_EQ(db.getSrhProcParams("ZQ user", aux), 0);
    EXPECT_STREQ(aux.argument_str, "-role srh");
    ASSERT_EQ(db.getTerratecProcParams("ZQ user", aux), 0);
    EXPECT_EQ(std::string(aux.path), SuiteDb::DemoBinFolder() + "/Kestlog.exe");

    Rs2UdpParams rs;
    ASSERT_EQ(db.getRs2UdpParams(rs), 0);
    EXPECT_EQ(rs.rs_pid, 1);
    EXPECT_EQ(std::string(rs.rs_path), SuiteDb::DemoBinFolder() + "/RStoUDP.exe");
    EXPECT_STREQ(rs.rs_port, "1");
}

// Values longer than their fields arrive cut to the field's width.
TEST_F(Catalogue, OverLongValuesAreCutToTheirFields) {
    const std::string p350(350, 'p'), n150(150, 'n'), c25 = "COM3,9600,8,N,1,extra-123";
    ASSERT_EQ(c25.size(), 25u);
    suite.Exec("UPDATE distribution_process SET path='" + p350 + "', argument_str='" + p350 +
               "' WHERE id=1;"
               "UPDATE process SET processname='" +
               n150 +
               "' WHERE pid=101;"
               "UPDATE ship_parameters SET KeelComParams='" +
               c25 +
               "';"
               "UPDATE rs2udp_parameters SET rs_port='12345', comment='" +
               p350 +
               "';"
               "UPDATE ath_proc_param SET ath_path='" +
               p350 + "';");
    DrzProcParams drz;
    ASSERT_EQ(db.getDrzProcParams(1302, 221, drz), 0);
    EXPECT_EQ(std::string(drz.processname), n150.substr(0, 99));
    EXPECT_EQ(std::string(drz.drz_path), p350.substr(0, 299));
    EXPECT_EQ(std::string(drz.drz_argument_str), p350.substr(0, 299));
    EXPECT_EQ(drz.drz_recv_socket_id, 11) << "columns after a cut text are still read";

    std::string keel;
    ASSERT_EQ(db.getShipParameter("KeelComParams", keel), 0);
    EXPECT_EQ(keel, c25.substr(0, 19));

    Rs2UdpParams rs;
    ASSERT_EQ(db.getRs2UdpParams(rs), 0);
    EXPECT_STREQ(rs.rs_port, "12");
    EXPECT_EQ(std::string(rs.comment), p350.substr(0, 299));

    AuxProcParams aux;
    ASSERT_EQ(db.getAthProcParams("ZQ user", aux), 0);
    EXPECT_EQ(std::string(aux.path), p350.substr(0, 299));
    EXPECT_EQ(Report(), "");
}

TEST_F(Catalogue, NullValuesReadAsEmptyAndZero) {
    suite.Exec(
        "CREATE TABLE loose(id INTEGER, ip TEXT, port INTEGER, processname TEXT);"
        "DROP VIEW process_socket_v;"
        "CREATE VIEW process_socket_v AS SELECT id, ip, port, 0 AS udp_tcp, 1 AS read_write, "
        "0 AS server_client, NULL AS pid, processname FROM loose ORDER BY id;"
        "INSERT INTO loose VALUES (1, 'first', 11, 'P'), (2, NULL, NULL, 'P');");
    std::vector<ProcessSocket> sockets;
    ASSERT_EQ(db.getProcessSockets("p", sockets), 0);
    ASSERT_EQ(sockets.size(), 2u);
    EXPECT_STREQ(sockets[1].ip, "") << "a NULL must not repeat the previous row's value";
    EXPECT_EQ(sockets[1].port, 0);
    EXPECT_EQ(sockets[0].pid, 0);
}

TEST_F(Catalogue, ProcessPidOfAMissingNameIsZero) {
    int pid = -5;
    ASSERT_EQ(db.getProcessPid("DPT", pid), 0);
    EXPECT_EQ(pid, 30);
    ASSERT_EQ(db.getProcessPid("NO_SUCH_PROCESS", pid), 0);
    EXPECT_EQ(pid, 0);
    EXPECT_EQ(Report(), "");
}

TEST_F(Catalogue, ProcessSocketsInDatabaseOrder) {
    std::vector<ProcessSocket> sockets;
    ASSERT_EQ(db.getProcessSockets("xdrz_generic_vs", sockets), 0);
    ASSERT_EQ(sockets.size(), 3u);
    const ProcessSocket& keel = sockets[0];
    EXPECT_EQ(keel.id, 1);
    EXPECT_STREQ(keel.ip, "127.0.0.1");
    EXPECT_EQ(keel.port, 5601);
    EXPECT_EQ(keel.udp_tcp, 0);
    EXPECT_EQ(keel.read_write, 1);
    EXPECT_EQ(keel.server_client, 0);
    EXPECT_EQ(keel.pid, 30);
    EXPECT_EQ(sockets[1].id, 2);
    EXPECT_EQ(sockets[2].id, 3);

    ASSERT_EQ(db.getProcessSockets("NO_SOCKETS", sockets), 0);
    EXPECT_TRUE(sockets.empty());
    EXPECT_EQ(Report(), "");
}

TEST_F(Catalogue, RegisterPidKeepsOneRowPerName) {
    ASSERT_EQ(db.registerPid(100, "RStoUDP_TIDE"), 0);
    ASSERT_EQ(db.registerPid(200, "RStoUDP_KEEL"), 0);
    ASSERT_EQ(db.registerPid(300, "RStoUDP_TIDE"), 0);
    EXPECT_EQ(
        suite.Query("SELECT pid, proc_name FROM pid_list ORDER BY pid"),
        (std::vector<std::vector<std::string>>{{"200", "RStoUDP_KEEL"}, {"300", "RStoUDP_TIDE"}}));
    EXPECT_EQ(Report(), "");
}

TEST_F(Catalogue, DbVersionIsTheLastRow) {
    int version = 0;
    std::string name;
    ASSERT_EQ(db.getDbVersion(version, name), 0);
    EXPECT_EQ(version, 742);
    EXPECT_EQ(name, "PEL 7.4.2 demo");

    suite.Exec("INSERT INTO pel_version VALUES (2, 743, 'PEL 7.4.3');");
    ASSERT_EQ(db.getDbVersion(version, name), 0);
    EXPECT_EQ(version, 743);
    EXPECT_EQ(name, "PEL 7.4.3");

    suite.Exec("DELETE FROM pel_version;");
    EXPECT_EQ(db.getDbVersion(version, name), -1);
    EXPECT_EQ(version, 743);
    EXPECT_EQ(name, "PEL 7.4.3");
    EXPECT_EQ(Report(),
              "505: (SQL_NO_DATA): SELECT current_version,current_versionname FROM pel_version\n");
}

// Quotes in text parameters stay inside their literal: the statement reads
// and writes exactly the row the name names.
TEST_F(Catalogue, QuotesInTextParametersCannotChangeAStatement) {
    const std::string attack = "x' OR '1'='1";
    suite.Exec("INSERT INTO pid_list VALUES (1, 'ZOR'), (2, 'VMBLOGGER');");

    int pid = -1;
    ASSERT_EQ(db.getProcessPid(attack, pid), 0);
    EXPECT_EQ(pid, 0);

    AuxProcParams aux;
    EXPECT_EQ(db.getAthProcParams(attack, aux), -1);
    EXPECT_STREQ(aux.path, "");

    std::vector<ProcessSocket> sockets;
    ASSERT_EQ(db.getProcessSockets(attack, sockets), 0);
    EXPECT_TRUE(sockets.empty());

    DrzAllParams all;
    EXPECT_EQ(db.getDrzAllParams("x') OR ('1'='1", all), -1);

    ASSERT_EQ(db.registerPid(9, attack), 0);
    EXPECT_EQ(
        suite.Query("SELECT pid, proc_name FROM pid_list ORDER BY pid"),
        (std::vector<std::vector<std::string>>{{"1", "ZOR"}, {"2", "VMBLOGGER"}, {"9", attack}}));
    ASSERT_EQ(db.registerPid(10, attack), 0);
    EXPECT_EQ(suite.QueryInt("SELECT count(*) FROM pid_list"), 3);

    // A name with a quote that really exists is found.
    suite.Exec("INSERT INTO process VALUES (77, 'O''BRIEN', '');");
    ASSERT_EQ(db.getProcessPid("O'BRIEN", pid), 0);
    EXPECT_EQ(pid, 77);

    // The column name stands unquoted, so anything but a plain name is
    // refused before it reaches the database.
    std::string value = "kept";
    EXPECT_EQ(db.getShipParameter("ship_name FROM users; --", value), -1);
    EXPECT_EQ(db.getShipParameter("", value), -1);
    EXPECT_EQ(value, "kept");
    EXPECT_EQ(Report(),
              "505: (SQL_NO_DATA): SELECT ath_path, ath_argument_str FROM ath_proc_param, users "
              "WHERE users.name = 'x'' OR ''1''=''1' AND users.id = ath_proc_param.id \n"
              "505: (SQL_NO_DATA): select soundertype, serialnumber, rawdata_location, "
              "rawdata_location_structure, file_name_structure, comment from drz_all_parameters_v "
              "where processname=upper('x'') OR (''1''=''1')\n"
              "Statement refused, not a plain column name: select ship_name FROM users; -- from "
              "ship_parameters\n"
              "Statement refused, not a plain column name: select  from ship_parameters\n");
}

// A statement that would not fit its buffer is refused, never cut.
TEST_F(Catalogue, OverLongStatementsAreRefused) {
    const std::string fitsAux(300, 'u');  // too long for 399 with the query, fine for 511
    const std::string tooLong(500, 'n');
    int pid = 3;
    EXPECT_EQ(db.getProcessPid(tooLong, pid), -1);
    EXPECT_EQ(pid, 3);
    EXPECT_EQ(db.registerPid(4, tooLong), -1);
    EXPECT_EQ(suite.QueryInt("SELECT count(*) FROM pid_list"), 0);

    AuxProcParams aux;
    EXPECT_EQ(db.getAthProcParams(fitsAux, aux), -1) << "runs, finds no such user";
    EXPECT_EQ(db.getSrhProcParams(tooLong, aux), -1);

    // Quotes count twice once doubled.
    const std::string quotes(190, '\'');
    EXPECT_EQ(db.getProcessPid(quotes, pid), -1);

    const std::string report = Report();
    const std::string prefix = "select pid from process where processname = '";
    const std::string refused = "Statement refused, longer than 399 characters: " + prefix +
                                std::string(399 - prefix.size(), 'n') + "\n";
    EXPECT_EQ(report.find(refused), 0u) << report.substr(0, 200);
    EXPECT_NE(report.find("505: (SQL_NO_DATA): SELECT ath_path"), std::string::npos);
    EXPECT_NE(report.find("Statement refused, longer than 511 characters: SELECT srh_path"),
              std::string::npos);
    EXPECT_EQ(report.find("DELETE FROM pid_list"), report.rfind("DELETE FROM pid_list"));
}

}  // namespace
