// No trace line is lost when a tracing process ends: a child process traces
// numbered lines with the sample logging configuration (a buffered, rolling
// trace file) and the echo on standard error, and is ended each way ZOR can
// end. Afterwards the trace files and the echo hold every line written, in
// order, each exactly once.
#include <TraceFileAppender.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Enough lines for the trace file to roll over once (5 MB).
constexpr long kLines = 100000;

std::string ExpectedLine(long number) {
    char line[128];
    std::snprintf(line, sizeof line, "*F: %-12.12s                      Job: line %08ld",
                  "TraceWriter", number);
    return line;
}

std::vector<std::string> ReadLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The rolled files, oldest first, then the current one.
std::vector<std::string> TraceFileLines(const fs::path& folder) {
    std::vector<std::string> all;
    for (int index = 5; index >= 1; --index) {
        for (auto& line : ReadLines(folder / ("zor-trace.log." + std::to_string(index))))
            all.push_back(std::move(line));
    }
    for (auto& line : ReadLines(folder / "zor-trace.log")) all.push_back(std::move(line));
    return all;
}

// Empty when `lines` are exactly the first `count` numbered lines, else the
// first difference.
std::string Mismatch(const std::vector<std::string>& lines, long count) {
    for (long i = 0; i < count; ++i) {
        if (i >= static_cast<long>(lines.size()))
            return "only " + std::to_string(lines.size()) + " of " + std::to_string(count);
        if (lines[i] != ExpectedLine(i)) return "line " + std::to_string(i) + ": " + lines[i];
    }
    if (static_cast<long>(lines.size()) != count)
        return std::to_string(lines.size()) + " lines, expected " + std::to_string(count);
    return {};
}

// The child in a scratch working directory, its standard error in the file
// echo.txt there and its standard output on a pipe to the test.
class TraceWriterRun {
  public:
    explicit TraceWriterRun(const std::string& mode) {
        m_dir = fs::temp_directory_path() /
                ("zor-trace-end-" + std::to_string(::getpid()) + "-" + mode);
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, m_dir.c_str());
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "echo.txt",
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        std::vector<std::string> args = {ZOR_TRACE_WRITER, ZOR_SAMPLE_LOG_CONFIG,
                                         std::to_string(kLines), mode};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, ZOR_TRACE_WRITER, &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        m_out = fds[0];
    }
    ~TraceWriterRun() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            Wait(std::chrono::seconds(10));
        }
        if (m_out >= 0) ::close(m_out);
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    TraceWriterRun(const TraceWriterRun&) = delete;
    TraceWriterRun& operator=(const TraceWriterRun&) = delete;

    // The next line of the child's standard output; empty at its end or after
    // the time limit.
    std::string ReadLine(std::chrono::seconds limit = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::string line;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd watch{m_out, POLLIN, 0};
            if (::poll(&watch, 1, 100) <= 0) continue;
            char c;
            if (::read(m_out, &c, 1) != 1) break;
            if (c == '\n') return line;
            line += c;
        }
        return line;
    }
    void Signal(int signal) { ::kill(m_pid, signal); }
    // The exit status once the child ended within the limit; -1 otherwise.
    int Wait(std::chrono::seconds limit) {
        if (m_pid <= 0) return -1;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::vector<std::string> TraceLines() const { return TraceFileLines(m_dir / "log"); }
    // Size of the newest rolled trace file; 0 when there is none.
    std::uintmax_t RolledSize() const {
        std::error_code error;
        const auto size = fs::file_size(m_dir / "log" / "zor-trace.log.1", error);
        return error ? 0 : size;
    }
    std::vector<std::string> EchoLines() const { return ReadLines(m_dir / "echo.txt"); }

  private:
    fs::path m_dir;
    pid_t m_pid = -1;
    int m_out = -1;
};

}  // namespace

// Ending normally, and ending with _exit right after LogTrace::FlushAll (the
// controller's way out): every line is in the files and in the echo.
TEST(TraceEnd, EveryLineWrittenBeforeTheEndIsKept) {
    for (const char* mode : {"exit", "_exit"}) {
        SCOPED_TRACE(mode);
        TraceWriterRun run(mode);
        ASSERT_EQ(run.ReadLine(), "ready");
        ASSERT_EQ(run.Wait(std::chrono::seconds(60)), 0);
        EXPECT_EQ(Mismatch(run.TraceLines(), kLines), "");
        EXPECT_EQ(Mismatch(run.EchoLines(), kLines), "");
        // The file rolled at its limit (5 MB), give or take one size check.
        EXPECT_GT(run.RolledSize(), 5u * 1024 * 1024);
        EXPECT_LE(run.RolledSize(), 5u * 1024 * 1024 + zor::TraceFileAppender::kCheckBytes + 128);
    }
}

// SIGTERM arrives while a worker thread is still tracing: the orderly stop
// keeps every line written up to the last one.
TEST(TraceEnd, SigtermWhileTracingKeepsEveryLine) {
    TraceWriterRun run("sigterm");
    ASSERT_EQ(run.ReadLine(), "ready");
    run.Signal(SIGTERM);
    const std::string wrote = run.ReadLine();
    ASSERT_EQ(run.Wait(std::chrono::seconds(60)), 0);
    long count = 0;
    ASSERT_EQ(std::sscanf(wrote.c_str(), "wrote %ld", &count), 1) << wrote;
    EXPECT_GE(count, kLines);
    EXPECT_EQ(Mismatch(run.TraceLines(), count), "");
    EXPECT_EQ(Mismatch(run.EchoLines(), count), "");
}

// A process that neither ends nor flushes: the periodic flush alone brings
// every line to the files and the echo (within LogTrace::kFlushPeriodMs).
TEST(TraceEnd, PeriodicFlushWritesOutAnIdleTrace) {
    TraceWriterRun run("hold");
    ASSERT_EQ(run.ReadLine(), "ready");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::string traceMismatch, echoMismatch;
    do {
        traceMismatch = Mismatch(run.TraceLines(), kLines);
        echoMismatch = Mismatch(run.EchoLines(), kLines);
        if (traceMismatch.empty() && echoMismatch.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(traceMismatch, "");
    EXPECT_EQ(echoMismatch, "");
}
