// The script that creates a suite database and its data source, and the
// demo suite it loads, read back through ODBC as ZOR reads it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "DbTestHelpers.h"
#include "Environment.h"

namespace fs = std::filesystem;
using zortest::SuiteDb;

namespace {

// The receive ports of a sounder: DRZ (kind 1), XDRZ (2), handler (3).
int Port(int type, int serial, int kind) {
    int base;
    if (type == 1602 || type == 1603) {
        base = 12000;
    } else if (type == 1605) {
        base = 14000;
    } else if (type == 1604) {
        base = 15000;
    } else {
        base = (10 * type + 10000) % 65536;
    }
    return (base + serial + kind) % 65536;
}

// The driver manager and the driver remember data-source lookups within a
// process, so every test here uses the same folder (and so the same data
// source and database paths), made anew by the script each time.
const fs::path& Folder() {
    static const fs::path folder = [] {
        std::random_device random;
        return fs::temp_directory_path() / ("zor-suite-script-" + std::to_string(random()));
    }();
    return folder;
}

bool MakeSuiteDb(const std::string& options) {
    const std::string command = "'" + SuiteDb::SuiteSourceFolder() + "make-suite-db' " + options +
                                " --bin /opt/peers --timeout 700 '" + Folder().string() +
                                "' >/dev/null";
    return std::system(command.c_str()) == 0;
}

class SuiteScript : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(MakeSuiteDb("")); }
    void TearDown() override { fs::remove_all(folder); }

    const fs::path folder = Folder();
};

TEST_F(SuiteScript, WritesAPrivateDataSourceForTheDemoSuite) {
    const std::string ini = SuiteDb::ReadFile((folder / "odbc.ini").string());
    const std::string db = (folder / "zpel-suite.db").string();
    EXPECT_NE(ini.find("[ZPELDB]\n"), std::string::npos);
    EXPECT_NE(ini.find("Driver=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so\n"),
              std::string::npos);
    EXPECT_NE(ini.find("Database=" + db + "\n"), std::string::npos);
    EXPECT_NE(ini.find("NoCreat=1\n"), std::string::npos);
    EXPECT_NE(ini.find("Timeout=700\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(folder / "odbcinst.ini"));
    EXPECT_EQ(fs::file_size(folder / "translate.bin"), 100u);

    platform::ScopedEnv odbcIni("ODBCINI", (folder / "odbc.ini").string());
    platform::ScopedEnv tmp("TMPDIR", folder.string());
    CDBoperations ops("ZOR");
    int result = -1;
    const std::string err = zortest::LoginQuietly(ops, result);
    ASSERT_EQ(result, 0);
    EXPECT_NE(err.find("Opened database " + db + " successfully"), std::string::npos);

    int version = 0;
    std::string name;
    EXPECT_EQ(ops.getDbVersion(version, name), 0);

    // Each demo sounder's distribution processes point at the suite programs
    // and carry the receive ports the port rule gives.
    const struct { int type, serial; } sounders[] = {{1302, 221}, {1602, 60}};
    for (const auto& s : sounders) {
        SCOPED_TRACE(s.type);
        DrzProcParams drz;
        XdrzProcParams xdrz;
        DrzAllParams all;
        ASSERT_EQ(ops.getDrzProcParams(s.type, s.serial, drz), 0);
        ASSERT_EQ(ops.getXdrzProcParams(s.type, s.serial, xdrz), 0);
        ASSERT_EQ(ops.getDrzAllParams(drz.processname, all), 0);
        EXPECT_STREQ(drz.drz_path, "/opt/peers/drzdist.exe");
        EXPECT_STREQ(xdrz.xdrz_path, "/opt/peers/XDRZ.exe");
        const std::string handler = " --answer-to " + std::to_string(Port(s.type, s.serial, 3));
        EXPECT_EQ(std::string(drz.drz_argument_str),
                  "--port " + std::to_string(Port(s.type, s.serial, 1)) + handler);
        EXPECT_EQ(std::string(xdrz.xdrz_argument_str),
                  "--port " + std::to_string(Port(s.type, s.serial, 2)) + handler);
        EXPECT_EQ(std::string(drz.processname),
                  "DRZ_" + std::to_string(s.type) + "_" + std::to_string(s.serial));
        EXPECT_EQ(all.soundertype, s.type);
        EXPECT_EQ(all.serialnumber, s.serial);
    }

    // Every message ZOR reports has a text that takes the reported values.
    const struct {
        int number;
        const char* conversions;
    } messages[] = {{428, ""},     {429, ""},     {431, "%s%d"}, {433, "%s"}, {447, ""},
                    {455, "%s%d"}, {456, "%s%d"}, {461, "%s%d"}, {466, ""},   {467, ""},
                    {559, ""},     {560, ""},     {572, ""},     {573, ""},   {574, ""},
                    {575, ""},     {581, "%s"},   {582, "%s%s"}};
    for (const auto& m : messages) {
        const auto text = ops.getMessageText(m.number, 3);
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(text->find("**** Error"), std::string::npos) << m.number;
        std::string conversions;
        for (std::size_t at = text->find('%'); at != std::string::npos;
             at = text->find('%', at + 2)) {
            conversions += text->substr(at, 2);
        }
        EXPECT_EQ(conversions, m.conversions) << m.number << ": " << *text;
    }

    std::string tide;
    EXPECT_EQ(ops.getShipParameter("TideComParams", tide), 0);
    EXPECT_FALSE(tide.empty());
    AuxProcParams aux;
    EXPECT_EQ(ops.getAthProcParams("ZQ user", aux), 0);
    EXPECT_EQ(ops.getSrhProcParams("ZQ user", aux), 0);
    EXPECT_EQ(ops.getTerratecProcParams("ZQ user", aux), 0);
    EXPECT_STREQ(aux.path, "/opt/peers/Kestlog.exe");
    Rs2UdpParams rs;
    EXPECT_EQ(ops.getRs2UdpParams(rs), 0);

    // The keel bridge's input: the generic vessel-sensor socket that reads
    // from the DPT program.
    int dpt = 0;
    ASSERT_EQ(ops.getProcessPid("DPT", dpt), 0);
    std::vector<ProcessSocket> sockets;
    ASSERT_EQ(ops.getProcessSockets("XDRZ_GENERIC_VS", sockets), 0);
    int keelInput = 0;
    for (const ProcessSocket& socket : sockets) {
        if (dpt != 0 && socket.pid == dpt && socket.read_write == 1) keelInput = socket.port;
    }
    EXPECT_EQ(keelInput, 5601);

    ASSERT_NE(ops.SqliteHandle(), nullptr);
    EXPECT_EQ(ops.registerPid(1234, "ZOR"), 0);
    EXPECT_TRUE(ops.DebugFilePath().empty()) << "nothing failed";
}

TEST_F(SuiteScript, EmptyDatabaseHasTheSchemaOnly) {
    ASSERT_TRUE(MakeSuiteDb("--empty"));
    platform::ScopedEnv odbcIni("ODBCINI", (folder / "odbc.ini").string());
    platform::ScopedEnv tmp("TMPDIR", folder.string());
    CDBoperations ops("ZOR");
    int result = -1;
    zortest::LoginQuietly(ops, result);
    ASSERT_EQ(result, 0);
    int version = 0;
    std::string name;
    EXPECT_EQ(ops.getDbVersion(version, name), -1);
}

}  // namespace
