// The grid server: the grid-engine setting in "gui.ini", the HTTP shutdown
// request against the simulated server (and against one that never
// answers), and the server's (re)start. Runs in its own PID and network
// namespace (port 9091, kills by image name).
#include <GridServer.h>
#include <Process.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "Environment.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kSuiteDir = ZOR_SUITE_DIR;
const std::string kGet = "GET /v1/pelgridengine/api/service/shutdown";

// What reaches the Qt debug output.
std::mutex g_debugMutex;
std::vector<std::string> g_debug;

void CaptureDebug(QtMsgType, const QMessageLogContext&, const QString& text) {
    std::lock_guard<std::mutex> guard(g_debugMutex);
    g_debug.push_back(text.toStdString());
}

std::vector<std::string> DebugLines() {
    std::lock_guard<std::mutex> guard(g_debugMutex);
    return g_debug;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Runs the event loop until the condition holds or the limit has passed.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limit.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class GridServerTest : public ::testing::Test {
  protected:
    GridServerTest()
        : m_folder(MakeFolder()),
          m_programData("ProgramData", m_folder.string()),
          m_previousDir(fs::current_path()) {
        fs::create_directories(DataFolder());
        fs::current_path(m_folder);
        {
            std::lock_guard<std::mutex> guard(g_debugMutex);
            g_debug.clear();
        }
        m_previousHandler = qInstallMessageHandler(CaptureDebug);
        m_client = std::make_unique<CGridServerClient>([this](const std::string& line) {
            std::lock_guard<std::mutex> guard(m_traceMutex);
            m_trace.push_back(line);
        });
    }

    ~GridServerTest() override {
        m_client.reset();
        qInstallMessageHandler(m_previousHandler);
        platform::KillImage("Tessera.exe");
        m_processes.WaitAll(5s);
        fs::current_path(m_previousDir);
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    static fs::path MakeFolder() {
        std::string pattern = (fs::temp_directory_path() / "zor-grid-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
        return pattern;
    }
    fs::path DataFolder() const { return m_folder / "Velmor Dezidizu" / "zpel"; }
    fs::path GuiIni() const { return DataFolder() / "gui.ini"; }

    // Puts the simulated grid server in the working folder, where the
    // controller starts it from.
    void InstallServer() { fs::copy_file(kSuiteDir + "/Tessera.exe", m_folder / "Tessera.exe"); }

    // Starts a grid server with its own journal and waits until it listens.
    int StartServer(const std::string& journal) {
        const int pid = m_processes.Spawn(kSuiteDir + "/Tessera.exe --journal " +
                                          (m_folder / journal).string());
        EXPECT_GT(pid, 0);
        EXPECT_TRUE(RunUntil([&] { return fs::exists(m_folder / journal); }));
        return pid;
    }

    std::vector<std::string> Trace() {
        std::lock_guard<std::mutex> guard(m_traceMutex);
        return m_trace;
    }

    fs::path m_folder;
    platform::ScopedEnv m_programData;
    fs::path m_previousDir;
    QtMessageHandler m_previousHandler = nullptr;
    std::mutex m_traceMutex;
    std::vector<std::string> m_trace;
    platform::ProcessManager m_processes;
    std::unique_ptr<CGridServerClient> m_client;
};

// ---- the grid-engine setting -----------------------------------------------------

TEST_F(GridServerTest, GridEngineSettingTable) {
    struct Case {
        const char* what;
        const char* file;  // null: no file
        int expected;
        bool keyWritten;  // GRIDENGINE=1 added under RUNTIME
    } cases[] = {
        {"no file", nullptr, 1, true},
        {"no key", "[RUNTIME]\nOTHER=5\n", 1, true},
        {"key in another group", "[VIEW]\nGRIDENGINE=0\n", 1, true},
        {"engine off", "[RUNTIME]\nGRIDENGINE=0\n", 0, false},
        {"engine on", "[RUNTIME]\nGRIDENGINE=1\n", 1, false},
        {"another engine", "[RUNTIME]\nGRIDENGINE=2\n", 2, false},
        {"not a number", "[RUNTIME]\nGRIDENGINE=abc\n", 1, false},
    };
    size_t index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(GuiIni());
        // Files of one size written within one moment look unchanged to the
        // settings cache of the process: give each case its own size.
        const std::string text = c.file == nullptr ? ""
                                                   : c.file + std::string("[PAD]\nP=") +
                                                         std::string(++index, 'x') + "\n";
        if (c.file != nullptr) std::ofstream(GuiIni()) << text;
        EXPECT_EQ(CCirruloConnector::getGEType(), c.expected);
        QSettings written(QString::fromStdString(GuiIni().string()), QSettings::IniFormat);
        if (c.keyWritten) {
            EXPECT_EQ(written.value("RUNTIME/GRIDENGINE").toString(), "1");
            if (text.find("OTHER") != std::string::npos) {
                EXPECT_EQ(written.value("RUNTIME/OTHER").toInt(), 5);
            }
        } else {
            EXPECT_EQ(ReadText(GuiIni()), text);
        }
    }
    EXPECT_EQ(CCirruloConnector::SettingsPath().toStdString(), GuiIni().string());
}

// ---- the shutdown request --------------------------------------------------------

TEST_F(GridServerTest, ShutdownRequestReachesTheServerAndItsReplyIsLogged) {
    const int pid = StartServer("server.journal");
    bool completed = false;
    m_client->RequestShutdown([&] { completed = true; });
    EXPECT_EQ(m_client->PendingRequests(), 1);
    EXPECT_TRUE(m_client->WaitForPending(2s));
    EXPECT_TRUE(completed);
    EXPECT_EQ(m_client->PendingRequests(), 0);
    EXPECT_NE(ReadText(m_folder / "server.journal").find(kGet), std::string::npos);
    EXPECT_EQ(m_processes.Wait(pid, 5s), pid);
    // Content type, last-modified, length, status and reason, one per line.
    const std::vector<std::string> lines = DebugLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], "200");
    EXPECT_EQ(lines[4], "OK");
    EXPECT_TRUE(Trace().empty());
}

TEST_F(GridServerTest, FailedRequestIsLoggedAsAnErrorAndStillCompletes) {
    // Nothing listens on the port.
    bool completed = false;
    m_client->RequestShutdown([&] { completed = true; });
    EXPECT_TRUE(m_client->WaitForPending(2s));
    EXPECT_TRUE(completed);
    const std::vector<std::string> lines = DebugLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "ERROR!");
    EXPECT_NE(lines[1].find("refused"), std::string::npos) << lines[1];
}

TEST_F(GridServerTest, ServerThatNeverAnswersHoldsNothingPastTheBounds) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 9091));
    bool completed = false;
    m_client->RequestShutdown([&] { completed = true; });

    QElapsedTimer clock;
    clock.start();
    // A short wait returns at its own limit, the request still pending.
    EXPECT_FALSE(m_client->WaitForPending(200ms));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_TRUE(silent.hasPendingConnections() || silent.waitForNewConnection(0));
    // The request's own time limit ends it within the shutdown wait.
    EXPECT_TRUE(m_client->WaitForPending(2s));
    EXPECT_LE(clock.elapsed(), 2000 + 500);
    EXPECT_TRUE(completed);
    const std::vector<std::string> lines = DebugLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "ERROR!");
}

TEST_F(GridServerTest, ExitRequestFromAnotherThreadGoesOutOnTheMainThread) {
    StartServer("server.journal");
    std::thread worker([this] { m_client->RequestShutdownAtExit(); });
    worker.join();
    EXPECT_TRUE(m_client->WaitForPending(2s));
    EXPECT_NE(ReadText(m_folder / "server.journal").find(kGet), std::string::npos);
    EXPECT_EQ(Trace(), std::vector<std::string>{"\nTerminate Tessera\n"});
}

// ---- the start of the server ---------------------------------------------------------

TEST_F(GridServerTest, RunningServerIsAskedToEndThenReplacedASecondLater) {
    InstallServer();
    const int old = StartServer("old.journal");
    m_client->StartGridServer();
    // Nothing is started before the reply and the pause after it.
    EXPECT_TRUE(Trace().empty());
    const fs::path newJournal = m_folder / "Tessera.exe.9091.journal";
    ASSERT_TRUE(RunUntil([&] { return fs::exists(newJournal); }, 10s));
    EXPECT_NE(ReadText(m_folder / "old.journal").find(kGet), std::string::npos);
    EXPECT_EQ(m_processes.Wait(old, 5s), old);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"\n\tInfo: Tessera process starting\n",
                                                 "\n\tInfo: Tessera process started \n"}));
    EXPECT_TRUE(platform::IsImageRunning("Tessera.exe"));
    // gui.ini had no key: it was written with 1.
    EXPECT_EQ(CCirruloConnector::getGEType(), 1);
}

TEST_F(GridServerTest, ServerNotRunningIsStartedAtOnce) {
    InstallServer();
    m_client->StartGridServer();
    EXPECT_EQ(m_client->PendingRequests(), 0);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"\n\tInfo: Tessera process starting\n",
                                                 "\n\tInfo: Tessera process started \n"}));
    EXPECT_TRUE(RunUntil([&] { return fs::exists(m_folder / "Tessera.exe.9091.journal"); }));
}

TEST_F(GridServerTest, OtherGridEngineLeavesTheServerAlone) {
    InstallServer();
    std::ofstream(GuiIni()) << "[RUNTIME]\nGRIDENGINE=0\n";
    const int old = StartServer("old.journal");
    m_client->StartGridServer();
    EXPECT_EQ(m_client->PendingRequests(), 0);
    EXPECT_TRUE(Trace().empty());
    EXPECT_TRUE(platform::IsProcessRunning(old));
}

TEST_F(GridServerTest, MissingServerProgramIsReported) {
    m_client->StartTesseraCont();
    EXPECT_EQ(Trace(),
              (std::vector<std::string>{
                  "\n\tInfo: Tessera process starting\n",
                  "\nFailed to start application. The Tessera process failed to start\n"}));
}

}  // namespace
