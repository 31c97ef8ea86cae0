// The simulated suite peers, as ZOR's end-to-end tests will use them: each
// is started like the real program, and its journal and exit are checked.
// Runs in its own network namespace (fixed ports).
#include <PeerSupport.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ChildExit.h"

extern char** environ;

namespace {

namespace asio = boost::asio;
namespace fs = std::filesystem;
using asio::ip::udp;
using Clock = std::chrono::steady_clock;

// A started peer, killed if the test leaves it running.
class Peer {
  public:
    Peer(const std::string& image, std::vector<std::string> args, const fs::path& cwd) {
        const std::string path = std::string(ZOR_SUITE_DIR) + "/" + image;
        args.insert(args.begin(), path);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        if (posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Peer() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    // The exit status, or -1 while still running after `ms`.
    int WaitExit(int ms) { return test_support::WaitChildExit(m_pid, ms); }
    bool Started() const { return m_pid > 0; }

  private:
    pid_t m_pid = -1;
};

bool WaitForFile(const fs::path& path, int ms = 5000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < deadline) {
        if (fs::exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// The journal's lines split into stamps and texts.
struct JournalLines {
    std::vector<double> stamps;
    std::vector<std::string> texts;
};
JournalLines ReadJournal(const fs::path& path) {
    JournalLines j;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t blank = line.find(' ');
        j.stamps.push_back(std::stod(line.substr(0, blank)));
        j.texts.push_back(blank == std::string::npos ? "" : line.substr(blank + 1));
    }
    return j;
}

void Send(const std::string& bytes, uint16_t port) {
    asio::io_context context;
    udp::socket socket(context, udp::v4());
    socket.send_to(asio::buffer(bytes), udp::endpoint(asio::ip::address_v4::loopback(), port));
}

class Peers : public testing::Test {
  protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("zor-peers-" + std::to_string(getpid()) + "-" +
                 testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    fs::path m_dir;
};

TEST_F(Peers, EachUdpImageFindsItsPortJournalsAndEndsOnSentence24) {
    struct Case {
        std::string image;
        std::vector<std::string> args;  // as the real program is started
        uint16_t port;
    } cases[] = {
        {"PELMainApp.exe", {}, 4002},
        {"drzdist.exe", {"-sounder", "3_17", "--port", "7001", "--journal", "drz.log"}, 7001},
        {"XDRZ.exe", {"--port", "7002", "unknown", "words"}, 7002},
        {"Kestlog.exe", {"-name", "RTCMLOGGER", "-x", "1"}, 5081},
        {"Morvlog.exe", {"-name", "IMULOGGER"}, 5083},
        {"VMBLogger.exe", {"-name", "VMBLOGGER", "-debug", "31"}, 5093},
        {"Tandlog.exe", {"-name", "SPOLOGGER"}, 5094},
        {"RStoUDP.exe", {"-com", "COM3,9600", "-udpout", "5900", "-confsock", "6001"}, 6001},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        const fs::path journal =
            m_dir / (c.image == "drzdist.exe"
                         ? std::string("drz.log")
                         : c.image + "." + std::to_string(c.port) + ".journal");
        Peer peer(c.image, c.args, m_dir);
        ASSERT_TRUE(peer.Started());
        ASSERT_TRUE(WaitForFile(journal)) << journal;

        Send(std::string("hi\0\x01\\\t", 6), c.port);
        Send("$ZQPEL,24,", c.port);  // not the quit sentence: no terminator
        Send("$ZQPEL,24,\n\r", c.port);
        EXPECT_EQ(peer.WaitExit(5000), 0);

        const JournalLines j = ReadJournal(journal);
        const std::vector<std::string> expected = {"hi\\x00\\x01\\\\\\t", "$ZQPEL,24,",
                                                   "$ZQPEL,24,\\n\\r"};
        EXPECT_EQ(j.texts, expected);
        EXPECT_TRUE(std::is_sorted(j.stamps.begin(), j.stamps.end()));
    }
}

TEST_F(Peers, AnswersAConfiguredDatagram) {
    asio::io_context context;
    udp::socket inbox(context, udp::endpoint(asio::ip::address_v4::loopback(), 0));
    Peer peer(
        "drzdist.exe",
        {"--port", "7003", "--journal", "j", "--answer", "$ZQPEL,100*", "$ZQPEL,101,\\n\\r",
         "--answer", "ping", "pong", "--answer-to", std::to_string(inbox.local_endpoint().port())},
        m_dir);
    ASSERT_TRUE(WaitForFile(m_dir / "j"));
    Send("pin", 7003);  // no match: no answer
    Send("$ZQPEL,100,\n\r", 7003);
    Send("ping", 7003);
    char buffer[64];
    size_t n = inbox.receive(asio::buffer(buffer));
    EXPECT_EQ(std::string(buffer, n), "$ZQPEL,101,\n\r");
    n = inbox.receive(asio::buffer(buffer));
    EXPECT_EQ(std::string(buffer, n), "pong");
    Send("$ZQPEL,24,\n\r", 7003);
    EXPECT_EQ(peer.WaitExit(5000), 0);
}

TEST_F(Peers, WatchdogJournalsHeartbeatsAndStays) {
    Peer watchdog("Watchdog.exe", {}, m_dir);
    const fs::path journal = m_dir / "Watchdog.exe.33455.journal";
    ASSERT_TRUE(WaitForFile(journal));
    Send("$VMWDG,1,12345,20,ZOR,zor~-debug~31,1,Running*aa\n", 33455);
    Send("$ZQPEL,24,\n\r", 33455);
    EXPECT_EQ(watchdog.WaitExit(300), -1);  // still running
    const std::vector<std::string> expected = {
        "$VMWDG,1,12345,20,ZOR,zor~-debug~31,1,Running*aa\\n", "$ZQPEL,24,\\n\\r"};
    EXPECT_EQ(ReadJournal(journal).texts, expected);
}

TEST_F(Peers, UdpPeerWithoutPortOrWithABusyPortFails) {
    Peer noPort("drzdist.exe", {"-whatever"}, m_dir);
    EXPECT_EQ(noPort.WaitExit(5000), 2);
    asio::io_context context;
    udp::socket busy(context, udp::endpoint(udp::v4(), 7004));
    Peer clash("XDRZ.exe", {"--port", "7004"}, m_dir);
    EXPECT_EQ(clash.WaitExit(5000), 2);
}

// One HTTP GET; returns the status code (0 when no answer).
int Get(const std::string& target) {
    namespace http = boost::beast::http;
    asio::io_context context;
    asio::ip::tcp::socket socket(context);
    boost::system::error_code error;
    socket.connect({asio::ip::address_v4::loopback(), 9091}, error);
    if (error) return 0;
    http::request<http::empty_body> request(http::verb::get, target, 11);
    request.set(http::field::host, "127.0.0.1");
    http::write(socket, request, error);
    boost::beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(socket, buffer, response, error);
    return error ? 0 : static_cast<int>(response.result_int());
}

TEST_F(Peers, GridServerAnswersShutdownWith200AndEnds) {
    Peer grid("Tessera.exe", {}, m_dir);
    const fs::path journal = m_dir / "Tessera.exe.9091.journal";
    ASSERT_TRUE(WaitForFile(journal));
    EXPECT_EQ(Get("/v1/pelgridengine/api/service/status"), 404);
    EXPECT_EQ(grid.WaitExit(100), -1);
    EXPECT_EQ(Get("/v1/pelgridengine/api/service/shutdown"), 200);
    EXPECT_EQ(grid.WaitExit(5000), 0);
    const std::vector<std::string> expected = {"GET /v1/pelgridengine/api/service/status",
                                               "GET /v1/pelgridengine/api/service/shutdown"};
    EXPECT_EQ(ReadJournal(journal).texts, expected);
}

TEST(PeerSupport, EscapeAndUnescapeAreInverse) {
    const std::string bytes("$ZQPEL,24,\n\r\t\\\0\x7f\xff", 17);
    EXPECT_EQ(peer::Escape(bytes), "$ZQPEL,24,\\n\\r\\t\\\\\\x00\\x7f\\xff");
    EXPECT_EQ(peer::Unescape(peer::Escape(bytes)), bytes);
    EXPECT_EQ(peer::Unescape("a\\x4"), "a\\x4");  // cut escape stays as is
    EXPECT_EQ(peer::ParsePort("65535"), 65535);
    EXPECT_EQ(peer::ParsePort("65536"), 0);
    EXPECT_EQ(peer::ParsePort("12a"), 0);
}

}  // namespace
