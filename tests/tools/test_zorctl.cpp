// zorctl as the operator runs it: the real binary as a child process, real
// UDP on loopback standing in for ZOR's command port and the GUI's port, and
// the demo suite database behind the real data source for `status`. Runs in
// its own network namespace (fixed ports 4001 and 4002).
#include <SuiteDb.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ChildExit.h"

extern char** environ;

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using Clock = std::chrono::steady_clock;
using testing::HasSubstr;

// zorctl started with its output on pipes; killed if the test leaves it
// running.
class Zorctl {
  public:
    explicit Zorctl(const std::vector<std::string>& args) {
        std::vector<std::string> words{ZORCTL_BINARY};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (posix_spawn(&m_pid, ZORCTL_BINARY, &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        m_fds = {out[0], err[0]};
    }
    ~Zorctl() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        for (int fd : m_fds) {
            if (fd >= 0) close(fd);
        }
    }
    Zorctl(const Zorctl&) = delete;
    Zorctl& operator=(const Zorctl&) = delete;

    bool Started() const { return m_pid > 0; }
    void Signal(int number) {
        if (m_pid > 0) kill(m_pid, number);
    }

    // Reads output until `done` holds or `ms` pass; true when it held.
    bool ReadUntil(const std::function<bool()>& done, int ms) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0 || !ReadSome(static_cast<int>(left))) return done();
        }
        return true;
    }

    // Reads everything up to the end and returns the exit status (128 + the
    // signal for a killed process), or -1 if it still runs after `ms`.
    int Finish(int ms) {
        ReadUntil([this] { return m_fds[0] < 0 && m_fds[1] < 0; }, ms);
        return test_support::WaitChildExit(m_pid, ms);
    }

    const std::string& Out() const { return m_out; }
    const std::string& Err() const { return m_err; }

  private:
    // Waits up to `ms` for output; false when both pipes are closed.
    bool ReadSome(int ms) {
        std::array<pollfd, 2> polls{};
        nfds_t n = 0;
        for (int fd : m_fds) {
            if (fd >= 0) polls[n++] = {fd, POLLIN, 0};
        }
        if (n == 0) return false;
        if (poll(polls.data(), n, ms) <= 0) return true;
        for (nfds_t i = 0; i < n; ++i) {
            if (polls[i].revents == 0) continue;
            const int index = polls[i].fd == m_fds[0] ? 0 : 1;
            char buffer[4096];
            const ssize_t got = read(polls[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                (index == 0 ? m_out : m_err).append(buffer, static_cast<size_t>(got));
            } else {
                close(m_fds[index]);
                m_fds[index] = -1;
            }
        }
        return true;
    }

    pid_t m_pid = -1;
    std::array<int, 2> m_fds{-1, -1};
    std::string m_out, m_err;
};

struct Result {
    int status;
    std::string out, err;
};

Result RunZorctl(const std::vector<std::string>& args, int ms = 10000) {
    Zorctl z(args);
    EXPECT_TRUE(z.Started());
    const int status = z.Finish(ms);
    return {status, z.Out(), z.Err()};
}

// A UDP socket on 127.0.0.1:port.
class Udp {
  public:
    explicit Udp(uint16_t port) : m_socket(m_context, udp::v4()) {
        boost::system::error_code error;
        m_socket.bind(udp::endpoint(asio::ip::address_v4::loopback(), port), error);
        m_bound = !error;
    }
    bool Bound() const { return m_bound; }

    // The next datagram, or nothing within `ms`.
    std::optional<std::string> Next(int ms = 5000) {
        std::optional<std::string> got;
        std::array<char, 65536> buffer;
        udp::endpoint from;
        m_socket.async_receive_from(asio::buffer(buffer), from,
                                    [&](const boost::system::error_code& error, size_t n) {
                                        if (!error) got = std::string(buffer.data(), n);
                                    });
        m_context.restart();
        m_context.run_for(std::chrono::milliseconds(ms));
        if (!got) {
            m_socket.cancel();
            m_context.restart();
            m_context.run();
        }
        return got;
    }

    void SendTo(const std::string& bytes, uint16_t port) {
        m_socket.send_to(asio::buffer(bytes),
                         udp::endpoint(asio::ip::address_v4::loopback(), port));
    }

  private:
    asio::io_context m_context;
    udp::socket m_socket;
    bool m_bound = false;
};

// ---- sentences ----------------------------------------------------------

TEST(Zorctl, EachCommandSendsItsSentenceToZorsCommandPort) {
    Udp zor(4001);
    ASSERT_TRUE(zor.Bound());
    struct Case {
        std::vector<std::string> args;
        std::string bytes;
    } cases[] = {
        {{"start-list", "1302_221", "1602_60"}, "$ZQPEL,13,1302_221:1602_60\n\r"},
        {{"start-list", "1302_221;EM 302"}, "$ZQPEL,13,1302_221;EM 302\n\r"},
        {{"start-list", "01302_0221"}, "$ZQPEL,13,1302_221\n\r"},
        {{"log-start", "1302_221", "12"}, "$ZQPEL,20,1302_221:12,0\n\r"},
        {{"log-start", "--label", "1302_221", "12"}, "$ZQPEL,20,1302_221:12,1\n\r"},
        {{"log-stop", "1602_60", "0007", "--label"}, "$ZQPEL,21,1602_60:0007,1\n\r"},
        {{"log-stop", "0_65535", "123456789"}, "$ZQPEL,21,0_65535:123456789,0\n\r"},
        {{"stop-ping", "1302_221"}, "$ZQPEL,22,1302_221:0\n\r"},
        {{"stop-ping", "1302_221", "--label"}, "$ZQPEL,22,1302_221:1\n\r"},
        {{"survey-change", "1602_60"}, "$ZQPEL,5,1602_60,\n\r"},
        {{"restart-tide"}, "$ZQPEL,71,\n\r"},
        {{"restart-keel"}, "$ZQPEL,72,\n\r"},
        {{"terminate-handlers"}, "$ZQPEL,702,\n\r"},
        {{"shutdown"}, "$ZQPEL,24,\n\r"},
        {{"send", "$ZQPEL,60,1302_221,a\\tb\\\\c\\x00\\xfF\\n\\r"},
         std::string("$ZQPEL,60,1302_221,a\tb\\c\0\xff\n\r", 28)},
        {{"send", "--", "-starts with a dash"}, "-starts with a dash"},
        {{"--to", "127.0.0.1:4001", "shutdown"}, "$ZQPEL,24,\n\r"},
        {{"shutdown", "--to", "localhost:4001"}, "$ZQPEL,24,\n\r"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const Result r = RunZorctl(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(zor.Next(), c.bytes);
    }
}

TEST(Zorctl, ToSendsElsewhere) {
    Udp other(4011);
    ASSERT_TRUE(other.Bound());
    EXPECT_EQ(RunZorctl({"restart-tide", "--to", "127.0.0.1:4011"}).status, 0);
    EXPECT_EQ(other.Next(), "$ZQPEL,71,\n\r");
}

TEST(Zorctl, UsageErrorsExitWith2AndSendNothing) {
    Udp zor(4001);
    ASSERT_TRUE(zor.Bound());
    struct Case {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{}, "Usage"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"log-start", "1302-221", "1"}, "bad sounder key '1302-221'"},
        {{"log-start", "65536_1", "1"}, "bad sounder key"},
        {{"log-stop", "1_65536", "1"}, "bad sounder key"},
        {{"stop-ping", "1302_"}, "bad sounder key"},
        {{"stop-ping", "_221"}, "bad sounder key"},
        {{"survey-change", "1302_221x"}, "bad sounder key"},
        {{"survey-change", "+1302_221"}, "bad sounder key"},
        {{"survey-change", "99999999999999999999_1"}, "bad sounder key"},
        {{"start-list", "1302_221", "1602"}, "bad sounder key '1602'"},
        {{"start-list", "1302_221;a:b"}, "bad start-list item"},
        {{"start-list"}, "missing arguments"},
        {{"log-start", "1302_221", "12a"}, "bad file counter '12a'"},
        {{"log-start", "1302_221", "1234567890"}, "bad file counter"},
        {{"log-start", "1302_221"}, "missing arguments"},
        {{"survey-change", "1302_221", "1602_60"}, "too many arguments"},
        {{"shutdown", "now"}, "too many arguments"},
        {{"shutdown", "--label"}, "unknown option '--label'"},
        {{"send", "a\\q"}, "bad escape"},
        {{"send", "a\\x4"}, "bad escape"},
        {{"send", ""}, "nothing to send"},
        {{"--to", "127.0.0.1", "shutdown"}, "bad destination"},
        {{"--to", "127.0.0.1:0", "shutdown"}, "bad destination"},
        {{"shutdown", "--to"}, "--to needs HOST:PORT"},
        {{"watch", "--port", "70000"}, "bad value for --port"},
        {{"alive", "--timeout", "soon"}, "bad value for --timeout"},
        {{"watch", "--count"}, "--count needs a value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const Result r = RunZorctl(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_THAT(r.err, HasSubstr(c.says));
    }
    // Had any of them sent something, it would arrive before this.
    ASSERT_EQ(RunZorctl({"send", "marker"}).status, 0);
    EXPECT_EQ(zor.Next(), "marker");
}

TEST(Zorctl, EveryCommandHasHelp) {
    const Result overview = RunZorctl({"--help"});
    EXPECT_EQ(overview.status, 0);
    const char* commands[] = {
        "start-list",   "log-start",    "log-stop", "stop-ping",          "survey-change",
        "restart-tide", "restart-keel", "alive",    "terminate-handlers", "shutdown",
        "send",         "watch",        "status"};
    for (const char* command : commands) {
        SCOPED_TRACE(command);
        EXPECT_THAT(overview.out, HasSubstr(std::string("  ") + command + " "));
        for (const auto& args : {std::vector<std::string>{command, "--help"},
                                 std::vector<std::string>{"help", command},
                                 std::vector<std::string>{command, "bad_key", "-h"}}) {
            const Result r = RunZorctl(args);
            EXPECT_EQ(r.status, 0);
            EXPECT_THAT(r.out, HasSubstr(std::string("Usage: zorctl [--to HOST:PORT] ") + command));
        }
    }
}

// ---- alive ----------------------------------------------------------------

// Stands in for ZOR's command port: sends other traffic for the GUI to the
// GUI's port after the alive query, and then (if it answers) the answer, as
// ZOR does.
class AliveResponder {
  public:
    explicit AliveResponder(bool answers) : m_zor(4001) {
        m_thread = std::thread([this, answers] {
            for (;;) {
                const auto datagram = m_zor.Next(200);
                if (!datagram) continue;
                m_received.push_back(*datagram);
                if (*datagram == "$ZQPEL,stop") return;
                if (*datagram != "$ZQPEL,100,\n\r") continue;
                // What ZOR relays to the GUI meanwhile is no answer.
                m_zor.SendTo("$ZQPEL,32\n\r", 4002);
                m_zor.SendTo("$ZQPEL,1010,\n\r", 4002);
                if (answers) m_zor.SendTo("$ZQPEL,101,\n\r", 4002);
            }
        });
    }
    ~AliveResponder() { Stop(); }
    // What it received (the stop marker included).
    std::vector<std::string> Stop() {
        if (m_thread.joinable()) {
            Udp(0).SendTo("$ZQPEL,stop", 4001);
            m_thread.join();
        }
        return m_received;
    }
    bool Bound() const { return m_zor.Bound(); }

  private:
    Udp m_zor;
    std::thread m_thread;
    std::vector<std::string> m_received;
};

TEST(Zorctl, AliveSucceedsWhenZorAnswers) {
    AliveResponder zor(true);
    ASSERT_TRUE(zor.Bound());
    const Result r = RunZorctl({"alive"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("ZOR is alive"));
    EXPECT_EQ(zor.Stop(), (std::vector<std::string>{"$ZQPEL,100,\n\r", "$ZQPEL,stop"}));
}

TEST(Zorctl, AliveFailsWithinASecondWithoutAnAnswer) {
    AliveResponder zor(false);
    ASSERT_TRUE(zor.Bound());
    const auto start = Clock::now();
    const Result r = RunZorctl({"alive"});
    const auto took = Clock::now() - start;
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("no answer from ZOR at 127.0.0.1:4001 within 1000 ms"));
    EXPECT_GE(took, std::chrono::milliseconds(1000));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
    EXPECT_EQ(zor.Stop().front(), "$ZQPEL,100,\n\r");
}

TEST(Zorctl, AliveAndWatchFailClearlyWhenTheGuiPortIsTaken) {
    Udp gui(4002);
    ASSERT_TRUE(gui.Bound());
    for (const char* command : {"alive", "watch"}) {
        SCOPED_TRACE(command);
        const Result r = RunZorctl({command});
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.err, HasSubstr("cannot bind 127.0.0.1:4002"));
        EXPECT_THAT(r.err, HasSubstr("is the GUI"));
    }
}

TEST(Zorctl, AnUnresolvableDestinationExitsWith1) {
    const Result r = RunZorctl({"--to", "no.such.host.invalid:4001", "shutdown"});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot resolve no.such.host.invalid"));
}

// ---- watch ------------------------------------------------------------------

// Seconds between a stamp "YYYY-MM-DDTHH:MM:SS.mmmZ", read as UTC, and now;
// a large value for anything else.
double StampAge(const std::string& stamp) {
    const char* shape = "dddd-dd-ddTdd:dd:dd.dddZ";
    if (stamp.size() != std::strlen(shape)) return 1e9;
    for (size_t i = 0; i < stamp.size(); ++i) {
        const bool digit = stamp[i] >= '0' && stamp[i] <= '9';
        if (shape[i] == 'd' ? !digit : stamp[i] != shape[i]) return 1e9;
    }
    std::tm parts{};
    parts.tm_year = std::stoi(stamp.substr(0, 4)) - 1900;
    parts.tm_mon = std::stoi(stamp.substr(5, 2)) - 1;
    parts.tm_mday = std::stoi(stamp.substr(8, 2));
    parts.tm_hour = std::stoi(stamp.substr(11, 2));
    parts.tm_min = std::stoi(stamp.substr(14, 2));
    parts.tm_sec = std::stoi(stamp.substr(17, 2));
    return std::difftime(std::time(nullptr), timegm(&parts));
}

TEST(Zorctl, WatchPrintsEachDatagramWithAUtcStampUntilStopped) {
    for (const auto& args :
         {std::vector<std::string>{"watch"}, std::vector<std::string>{"watch", "--port", "4012"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        const uint16_t port = args.size() == 1 ? 4002 : 4012;
        Zorctl watch(args);
        ASSERT_TRUE(watch.Started());
        ASSERT_TRUE(watch.ReadUntil(
            [&] { return watch.Err().find("listening on 127.0.0.1:") != std::string::npos; }, 5000))
            << watch.Err();
        Udp zor(0);
        zor.SendTo("$ZQPEL,101,\n\r", port);
        zor.SendTo(std::string("a\0\x7f\t\\", 5), port);
        zor.SendTo("", port);
        auto lines = [&] { return std::count(watch.Out().begin(), watch.Out().end(), '\n'); };
        ASSERT_TRUE(watch.ReadUntil([&] { return lines() >= 3; }, 5000)) << watch.Out();
        watch.Signal(SIGTERM);
        EXPECT_EQ(watch.Finish(5000), 0);

        std::istringstream out(watch.Out());
        const std::string expected[] = {"$ZQPEL,101,\\n\\r", "a\\x00\\x7f\\t\\\\", ""};
        for (const std::string& text : expected) {
            std::string got;
            std::getline(out, got);
            EXPECT_LT(std::abs(StampAge(got.substr(0, 24))), 60) << got;
            EXPECT_EQ(got.substr(std::min<size_t>(got.size(), 25)), text) << got;
        }
    }
}

TEST(Zorctl, WatchWithACountEndsByItself) {
    Zorctl watch({"watch", "--port", "4013", "--count", "2"});
    ASSERT_TRUE(
        watch.ReadUntil([&] { return watch.Err().find("listening") != std::string::npos; }, 5000));
    Udp zor(0);
    zor.SendTo("one", 4013);
    zor.SendTo("two", 4013);
    EXPECT_EQ(watch.Finish(5000), 0);
    EXPECT_THAT(watch.Out(), testing::MatchesRegex("[^ ]+ one\n[^ ]+ two\n"));
}

// ---- status -----------------------------------------------------------------

// The id of a process that has ended and been reaped.
int EndedProcessId() {
    pid_t pid = -1;
    char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
    if (posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, environ) != 0) return -1;
    waitpid(pid, nullptr, 0);
    return pid;
}

TEST(ZorctlStatus, ListsTheRegisteredProcessesAliveOrGone) {
    zortest::SuiteDb db({/*demo=*/true});
    const int gone = EndedProcessId();
    ASSERT_GT(gone, 0);
    db.Exec("DELETE FROM pid_list");
    db.Exec("INSERT INTO pid_list(pid, proc_name) VALUES (" + std::to_string(getpid()) +
            ", 'ZOR'), (" + std::to_string(gone) + ", 'DRZ_1302_221'), (-1, 'it''s\tnot')");
    const Result r = RunZorctl({"status"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream out(r.out);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(out, line);) {
        std::istringstream words(line);
        rows.emplace_back(std::istream_iterator<std::string>(words),
                          std::istream_iterator<std::string>());
    }
    const std::vector<std::vector<std::string>> expected = {
        {"NAME", "PID", "STATE"},
        {"DRZ_1302_221", std::to_string(gone), "gone"},
        {"ZOR", std::to_string(getpid()), "alive"},
        {"it's\\tnot", "-1", "gone"},
    };
    EXPECT_EQ(rows, expected);
}

TEST(ZorctlStatus, AnEmptyListIsNoFailure) {
    zortest::SuiteDb db({/*demo=*/true});
    db.Exec("DELETE FROM pid_list");
    const Result r = RunZorctl({"status"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("(no process registered)"));
}

TEST(ZorctlStatus, AnUnreachableOrUnreadableDatabaseExitsWith1) {
    zortest::SuiteDb db({/*demo=*/true});
    const Result unknown = RunZorctl({"status", "--dsn", "NOSUCHDSN"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_THAT(unknown.err, HasSubstr("cannot log in to the data source \"NOSUCHDSN\""));
    db.Exec("DROP TABLE pid_list");
    const Result noTable = RunZorctl({"status"});
    EXPECT_EQ(noTable.status, 1);
    EXPECT_THAT(noTable.err, HasSubstr("cannot read the process-id list"));
    db.RemoveDatabaseFile();
    const Result missing = RunZorctl({"status"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, HasSubstr("\"ZPELDB\""));
}

}  // namespace
