#pragma once
// A fixture for tests of the real zor binary on the demo suite: the demo
// database and local files in a scratch layout, the simulated peers on the
// PATH, and waiting for conditions while zor's output is read. Needs
// ProcessRun (tests/app) and the definitions ZOR_SUITE_DIR and
// ZOR_INSTALL_DEMO_DATA; for tests in a PID namespace (it kills by image
// name at the end).

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QProcess>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ProcessRun.h"
#include "ProcessScan.h"

namespace zortest {

class ZorOnDemoSuite : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(run.MakeDemoDatabase(ZOR_SUITE_DIR));
        QProcess install;
        install.start("bash", {QStringLiteral(ZOR_INSTALL_DEMO_DATA),
                               QString::fromStdString(run.DataFolder().string()),
                               QString::fromStdString(run.WorkDir().string())});
        ASSERT_TRUE(install.waitForFinished(60000));
        ASSERT_EQ(install.exitCode(), 0);
        // Morvlog.exe and the other programs started by image name.
        run.Env().insert("PATH", QString(ZOR_SUITE_DIR) + ":" + run.Env().value("PATH"));
    }

    // Peers left running (a bridge that never quits, say) end with the test;
    // every process of the namespace but this one is the test's.
    void TearDown() override {
        for (const char* image : {"RStoUDP.exe", "Kestlog.exe", "Morvlog.exe", "Tandlog.exe",
                                  "Tessera.exe", "PELMainApp.exe", "drzdist.exe", "XDRZ.exe"})
            for (const auto& [pid, line] : Processes(image)) ::kill(pid, SIGKILL);
    }

    void Sql(const std::string& statement) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(run.DatabaseFile().c_str(), &db), SQLITE_OK);
        sqlite3_busy_timeout(db, 5000);
        EXPECT_EQ(sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << statement;
        sqlite3_close(db);
    }
    // The rows of arrivedMessages: number, a blank, the text (if any).
    std::vector<std::string> Messages() {
        std::vector<std::string> rows;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(run.DatabaseFile().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
            SQLITE_OK) {
            sqlite3_busy_timeout(db, 5000);
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare_v2(db,
                               "SELECT a.number || ' ' || coalesce(s.mess, '') FROM "
                               "arrivedMessages a LEFT JOIN arrivedMessagesString s USING "
                               "(dateYYYYMMDD, millisecSinceMidnight) ORDER BY a.id",
                               -1, &st, nullptr);
            while (st && sqlite3_step(st) == SQLITE_ROW)
                rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
        return rows;
    }
    void Start(const QStringList& more = {}) {
        run.Start(QStringList{"-debug", "31", "-noconsole"} + more);
        started = true;
    }
    std::string Trace() { return ReadFile(run.WorkDir() / "log" / "zor-trace.log"); }
    // Waits for a condition while reading zor's output, so that it never
    // blocks on a full pipe.
    bool Eventually(const std::function<bool()>& condition, int ms = 10000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            QCoreApplication::processEvents();
            if (started) {
                run.Stderr();
                run.Stdout();
            }
            if (condition()) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    bool TraceHas(const std::string& needle, int ms = 10000) {
        return Eventually([&] { return Trace().find(needle) != std::string::npos; }, ms);
    }
    std::string Journal(const std::string& name) { return ReadFile(run.WorkDir() / name); }
    // The bridges and loggers ZOR never tells to quit: what termPEL.cmd
    // does on a vessel, done by the test so that ZOR's wait ends early.
    void StopLeftovers() {
        for (uint16_t port : {5000, 5010, 5056, 5081, 5083})
            Quit(port);
    }
    int ExitCode(int ms = 30000) {
        if (!Eventually([&] { return run.Process().state() == QProcess::NotRunning; }, ms))
            return -1000;
        return run.Process().exitStatus() == QProcess::NormalExit ? run.Process().exitCode() : -1;
    }

    ProcessRun run;
    bool started = false;

  private:
    static void Quit(uint16_t port) {
        namespace ip = boost::asio::ip;
        boost::asio::io_context context;
        ip::udp::socket socket(context, ip::udp::v4());
        const std::string quit = "$ZQPEL,24,\n\r";
        socket.send_to(boost::asio::buffer(quit),
                       ip::udp::endpoint(ip::address_v4::loopback(), port));
    }
};

}  // namespace zortest
