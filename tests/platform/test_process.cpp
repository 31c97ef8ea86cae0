#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Environment.h"
#include "Paths.h"
#include "Process.h"
#include "ProcessTestSupport.h"

using namespace std::chrono_literals;
using platform::LaunchOptions;
using platform::ProcessManager;
using platform::SplitCommandLine;
using process_test::ProbeFolder;
using process_test::StateOf;
using process_test::WaitUntil;
using Words = std::vector<std::string>;

namespace {

using Clock = std::chrono::steady_clock;

// A bound for "returns when its limit runs out, not later" that holds on a
// loaded machine.
constexpr auto kLateness = 400ms;

struct SplitCase {
    const char* line;
    Words words;
};

TEST(SplitCommandLine, FollowsTheDocumentedRule) {
    const SplitCase cases[] = {
        {"prog", {"prog"}},
        {"prog a b  c", {"prog", "a", "b", "c"}},
        {"  prog\ta\t\tb   ", {"prog", "a", "b"}},
        {"prog \"a b\" c", {"prog", "a b", "c"}},
        {"prog \"\" x \"\"", {"prog", "", "x", ""}},
        {"prog \"\"\"\"", {"prog", ""}},
        {"prog a\"b c\"d", {"prog", "ab cd"}},
        {"prog \"a\"\"b\"", {"prog", "ab"}},
        {"prog \"tab\tinside\"", {"prog", "tab\tinside"}},
        {"prog \"unbalanced  rest\tof line ", {"prog", "unbalanced  rest\tof line "}},
        {"prog a\"", {"prog", "a"}},
        {"C:\\Program\\ \"\\\\server\\share\\\" \\",
         {"C:\\Program\\", "\\\\server\\share\\", "\\"}},
        {"\"/opt/Velmor Dezidizu/drz\" -name DRZ_1302",
         {"/opt/Velmor Dezidizu/drz", "-name", "DRZ_1302"}},
        {"prog ; $(id) | > && `x` *", {"prog", ";", "$(id)", "|", ">", "&&", "`x`", "*"}},
        {"prog \xc3\xa4\xff\x01 \r\n", {"prog", "\xc3\xa4\xff\x01", "\r\n"}},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto words = SplitCommandLine(c.line, &error);
        ASSERT_TRUE(words.has_value()) << c.line << ": " << error;
        EXPECT_EQ(*words, c.words) << c.line;
    }
}

TEST(SplitCommandLine, RefusesUnusableLinesWithAReason) {
    std::string longest = "prog " + std::string(platform::kMaxCommandLine - 5, 'x');
    ASSERT_EQ(longest.size(), platform::kMaxCommandLine);
    EXPECT_TRUE(SplitCommandLine(longest).has_value()) << "the longest line is accepted whole";

    std::string manyWords = "prog";
    for (std::size_t i = 1; i < platform::kMaxArguments; ++i) manyWords += " w";
    EXPECT_TRUE(SplitCommandLine(manyWords).has_value());

    const std::string refused[] = {
        "",
        " \t  ",
        "\"\" arg",
        "\"\"",
        longest + "x",
        manyWords + " w",
        std::string("prog a\0b", 8),
    };
    for (const auto& line : refused) {
        std::string error;
        EXPECT_FALSE(SplitCommandLine(line, &error).has_value()) << line.size();
        EXPECT_FALSE(error.empty()) << line.size();
    }
    std::string error;
    SplitCommandLine(longest + "x", &error);
    EXPECT_NE(error.find("1025"), std::string::npos) << error;
}

// Lines as the database could hold them: any bytes, quotes unbalanced.
TEST(SplitCommandLine, AnyBytesGiveWordsOrARefusal) {
    std::mt19937 random(20261211);
    const char alphabet[] = {'"', ' ', '\t', 'a', '\\', '\0', '\xff', '\x80', '\n', ';', '$'};
    for (int round = 0; round < 3000; ++round) {
        std::string line(random() % 1100, ' ');
        for (auto& c : line) {
            c = (random() % 3 == 0) ? static_cast<char>(random() & 0xff)
                                    : alphabet[random() % sizeof alphabet];
        }
        const auto words = SplitCommandLine(line);
        if (!words) continue;
        std::size_t total = 0;
        for (const auto& w : *words) {
            EXPECT_EQ(w.find('"'), std::string::npos);
            total += w.size();
        }
        EXPECT_LE(total, line.size());
        EXPECT_LE(words->size(), platform::kMaxArguments);
        EXPECT_FALSE(words->front().empty());
    }
}

// The sources of a name the kernel cut to 15 bytes, in their order.
TEST(ImageName, CutNamesAreCompletedFromWordsThenExecutable) {
    using platform::proc::ResolveImageName;
    struct Case {
        const char* comm;
        Words words;
        const char* exe;
        const char* name;
    };
    const Case cases[] = {
        {"XDRZ.exe", {"/x/other"}, "/x/other", "XDRZ.exe"},  // short: whole
        {"drzdistLongName", {"/opt/drzdistLongName.exe", "-a"}, "/opt/b", "drzdistLongName.exe"},
        {"ScriptWithALong",
         {"/bin/sh", "/s/ScriptWithALongName.sh", "x"},
         "/bin/dash",
         "ScriptWithALongName.sh"},
        {"ScriptWithALong",
         {"/usr/bin/env", "-S", "/s/ScriptWithALongName"},
         "",
         "ScriptWithALongName"},
        {"RewroteItsWords", {"worker: idle"}, "/usr/bin/RewroteItsWordsD", "RewroteItsWordsD"},
        {"RewroteItsWords", {}, "/usr/bin/gone", "RewroteItsWords"},
        {"fifteen_bytes_x", {"/p/fifteen_bytes_x"}, "", "fifteen_bytes_x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ResolveImageName(c.comm, c.words, c.exe), c.name) << c.comm;
    }
}

class ProcessManagerTest : public ProbeFolder {
  protected:
    void TearDown() override {
        // Whatever a failed test left running ends with it.
        for (int pid : m_started) ::kill(pid, SIGKILL);
        m_manager.WaitAll(10s);
        ProbeFolder::TearDown();
    }

    int Start(const std::string& line, const LaunchOptions& options = {}) {
        const int pid = m_manager.Spawn(line, options);
        if (pid > 0) m_started.push_back(pid);
        return pid;
    }

    // Runs the probe with the command line and returns the words it got.
    Words RunProbe(const std::string& line, const LaunchOptions& options = {}) {
        const int pid = Start(line, options);
        EXPECT_GT(pid, 0) << line << ": " << m_manager.LastError();
        if (pid <= 0) return {};
        EXPECT_EQ(m_manager.Wait(pid, 10s), pid);
        return ArgsOf(pid);
    }

    ProcessManager m_manager;
    std::vector<int> m_started;
};

TEST_F(ProcessManagerTest, ChildGetsExactlyTheWordsOfTheLine) {
    const std::string probe = m_probe.string();
    const SplitCase cases[] = {
        {"", {}},
        {" a b\tc", {"a", "b", "c"}},
        {" \"Velmor Dezidizu\\zpel\" \"\" x", {"Velmor Dezidizu\\zpel", "", "x"}},
        {" \t \"a\tb\"   c\"d e\"f  ", {"a\tb", "cd ef"}},
        {" -name DRZ \"unbalanced to the  end", {"-name", "DRZ", "unbalanced to the  end"}},
        {" C:\\Temp\\ \\\\srv\\x", {"C:\\Temp\\", "\\\\srv\\x"}},
        {" \xc3\xa4\xff", {"\xc3\xa4\xff"}},
        {" ; touch pwned && $(touch pwned2) > pwned3",
         {";", "touch", "pwned", "&&", "$(touch", "pwned2)", ">", "pwned3"}},
    };
    for (const auto& c : cases) {
        Words expected{probe};
        expected.insert(expected.end(), c.words.begin(), c.words.end());
        EXPECT_EQ(RunProbe(QuotedProbe() + c.line), expected) << c.line;
    }
    for (const char* file : {"pwned", "pwned2", "pwned3"}) {
        EXPECT_FALSE(process_test::fs::exists(m_dir / file)) << "a shell ran the line";
    }

    // The longest line runs whole.
    const std::string head = QuotedProbe() + " ";
    const std::string filler(platform::kMaxCommandLine - head.size(), 'y');
    EXPECT_EQ(RunProbe(head + filler), (Words{probe, filler}));
}

TEST_F(ProcessManagerTest, ProgramWithoutFolderIsLookedUpOnPath) {
    CopyProbe("zor-probe-on-path");
    platform::ScopedEnv path("PATH", "/nonexistent:" + m_dir.string() + ":/usr/bin:/bin");
    EXPECT_EQ(RunProbe("zor-probe-on-path one"), (Words{"zor-probe-on-path", "one"}));

    // A relative path with a folder is taken from the working directory.
    const auto previous = process_test::fs::current_path();
    process_test::fs::current_path(m_root);
    const Words got = RunProbe("\"./Velmor Dezidizu/zor-probe-on-path\" two");
    process_test::fs::current_path(previous);
    EXPECT_EQ(got, (Words{"./Velmor Dezidizu/zor-probe-on-path", "two"}));
}

TEST_F(ProcessManagerTest, StartThatCannotHappenFailsAtOnce) {
    WriteFile("not-executable", "#!/bin/sh\nexit 0\n", false);
    WriteFile("no-interpreter-line", "exit 0\n", true);
    WriteFile("missing-interpreter", "#!/nonexistent/interpreter\n", true);
    const std::string dir = "\"" + m_dir.string() + "/";
    const std::string lines[] = {
        "/nonexistent/program -a",
        "zor-no-such-program-anywhere -a",
        dir + "not-executable\"",
        dir + "no-interpreter-line\"",
        dir + "missing-interpreter\"",
        dir + "\"",        // a folder
        dir + "probe -a",  // unbalanced: the whole rest is the program's name
        QuotedProbe() + " " + std::string(platform::kMaxCommandLine, 'x'),
        "",
        "\"\" x",
    };
    for (const auto& line : lines) {
        const auto start = Clock::now();
        EXPECT_EQ(Start(line), -1) << line;
        EXPECT_LT(Clock::now() - start, 2s) << line;
        EXPECT_FALSE(m_manager.LastError().empty()) << line;
    }
    EXPECT_EQ(m_manager.WaitAll(0ms), 0) << "a failed start leaves no process to wait for";
}

TEST_F(ProcessManagerTest, EnvironmentIsInheritedOrOnlyPath) {
    platform::ScopedEnv marker("ZOR_PROCESS_TEST_MARK", "Velmor Dezidizu");
    const std::string path = platform::GetEnv("PATH");

    LaunchOptions inherit;
    const int a = Start(QuotedProbe(), inherit);
    ASSERT_GT(a, 0);
    ASSERT_EQ(m_manager.Wait(a, 10s), a);
    const Words inherited = EnvOf(a);
    EXPECT_NE(
        std::find(inherited.begin(), inherited.end(), "ZOR_PROCESS_TEST_MARK=Velmor Dezidizu"),
        inherited.end());
    EXPECT_GE(inherited.size(), 2u);

    LaunchOptions own;
    own.inheritEnvironment = false;
    const int b = Start(QuotedProbe(), own);
    ASSERT_GT(b, 0);
    ASSERT_EQ(m_manager.Wait(b, 10s), b);
    EXPECT_EQ(EnvOf(b), (Words{"PATH=" + path}));
}

// Reads "Name:\t<hex>" from /proc/<pid>/status.
std::uint64_t StatusMask(int pid, const std::string& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(name + ":", 0) == 0)
            return std::stoull(line.substr(name.size() + 1), nullptr, 16);
    }
    return ~0ull;
}

std::vector<std::string> OpenDescriptors(int pid) {
    std::vector<std::string> fds;
    for (const auto& entry :
         process_test::fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
        fds.push_back(entry.path().filename().string());
    }
    std::sort(fds.begin(), fds.end());
    return fds;
}

TEST_F(ProcessManagerTest, LaunchSettingsReachTheChild) {
    // What ZOR's own threads do: block some signals, ignore others, hold
    // descriptors that are not close-on-exec.
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    sigset_t before;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &before), 0);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR2, &ignore, &previous), 0);
    const int leaked = ::open("/dev/null", O_RDONLY);  // no O_CLOEXEC
    ASSERT_GE(leaked, 3);

    platform::proc::Stat self;
    ASSERT_TRUE(platform::proc::ReadStat(::getpid(), &self));

    LaunchOptions own;  // no console window: a session of its own
    own.highPriority = true;
    LaunchOptions shared;
    shared.ownSession = false;
    const int a = Start(QuotedProbe() + " --sleep", own);
    const int b = Start(QuotedProbe() + " --sleep", shared);

    ::close(leaked);
    sigaction(SIGUSR2, &previous, nullptr);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ASSERT_GT(a, 0) << m_manager.LastError();
    ASSERT_GT(b, 0) << m_manager.LastError();

    platform::proc::Stat sa;
    platform::proc::Stat sb;
    ASSERT_TRUE(platform::proc::ReadStat(a, &sa));
    ASSERT_TRUE(platform::proc::ReadStat(b, &sb));
    EXPECT_EQ(sa.session, a);
    EXPECT_EQ(sa.group, a);
    EXPECT_EQ(sb.session, self.session);
    EXPECT_EQ(sb.group, self.group);
    // High priority where permitted, never a failed start where not.
    EXPECT_TRUE(sa.nice == platform::kHighPriorityNice || sa.nice == self.nice) << sa.nice;
    EXPECT_EQ(sb.nice, self.nice);

    for (const int pid : {a, b}) {
        EXPECT_EQ(process_test::fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/0"),
                  "/dev/null");
        // Only the three standard ones, once the loader has closed what it
        // opens while it starts the program.
        EXPECT_TRUE(WaitUntil([pid] {
            return OpenDescriptors(pid) == Words{"0", "1", "2"};
        })) << pid;
        // Signals 1 to 31; the C library keeps two of its own above them.
        EXPECT_EQ(StatusMask(pid, "SigBlk") & 0x7fffffffu, 0u);
        EXPECT_EQ(StatusMask(pid, "SigIgn") & 0x7fffffffu, 0u);
        ::kill(pid, SIGKILL);
        EXPECT_EQ(m_manager.Wait(pid, 10s), pid);
    }
}

TEST_F(ProcessManagerTest, WaitReturnsTheIdZeroOrMinusOne) {
    const int pid = Start(QuotedProbe() + " --sleep");
    ASSERT_GT(pid, 0);

    EXPECT_EQ(m_manager.Wait(pid, 0ms), 0) << "a zero limit only looks";
    EXPECT_EQ(m_manager.Wait(pid, -5ms), 0);
    const auto start = Clock::now();
    EXPECT_EQ(m_manager.Wait(pid, 200ms), 0);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 200ms);
    EXPECT_LT(took, 200ms + kLateness);

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    EXPECT_EQ(m_manager.Wait(pid, 10s), pid);
    EXPECT_EQ(StateOf(pid), '\0') << "reaped";

    EXPECT_EQ(m_manager.Wait(pid, 10ms), -1) << "already waited for";
    EXPECT_FALSE(m_manager.LastError().empty());
    for (const int other : {0, -1, static_cast<int>(::getpid()), 1, INT_MAX}) {
        EXPECT_EQ(m_manager.Wait(other, 10ms), -1) << other;
    }
}

TEST_F(ProcessManagerTest, WaitAllKeepsItsLimitAndReapsWhatEnded) {
    EXPECT_EQ(m_manager.WaitAll(1s), 0) << "nothing started";
    const int sleeper = Start(QuotedProbe() + " --sleep");
    const int quick = Start(QuotedProbe() + " quick");
    ASSERT_GT(sleeper, 0);
    ASSERT_GT(quick, 0);

    const auto start = Clock::now();
    EXPECT_EQ(m_manager.WaitAll(300ms), 1);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 300ms + kLateness);
    EXPECT_EQ(StateOf(quick), '\0') << "the ended child was reaped";
    EXPECT_EQ(m_manager.Wait(quick, 0ms), -1) << "and forgotten";

    ::kill(sleeper, SIGKILL);
    EXPECT_EQ(m_manager.WaitAll(10s), 0);
    EXPECT_EQ(StateOf(sleeper), '\0');
}

TEST_F(ProcessManagerTest, EndedChildrenLeaveNoZombieAndFreeTheirPlace) {
    std::optional<ProcessManager> small(std::in_place, 2);
    const int a = small->Spawn(QuotedProbe() + " --sleep");
    const int b = small->Spawn(QuotedProbe() + " --sleep");
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    m_started = {a, b};
    EXPECT_EQ(small->Spawn(QuotedProbe() + " --sleep"), -1);
    EXPECT_NE(small->LastError().find("2 processes"), std::string::npos) << small->LastError();

    ::kill(a, SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return StateOf(a) == 'Z'; }));
    const int c = small->Spawn(QuotedProbe() + " quick");
    EXPECT_GT(c, 0) << "the ended child's place is free again: " << small->LastError();
    EXPECT_EQ(StateOf(a), '\0') << "and it was reaped";

    ::kill(b, SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return StateOf(b) == 'Z' && StateOf(c) == 'Z'; }));
    small.reset();
    EXPECT_EQ(StateOf(b), '\0') << "the destructor reaps what has ended";
    EXPECT_EQ(StateOf(c), '\0');
}

TEST_F(ProcessManagerTest, OnlyLiveProcessesAreRunning) {
    EXPECT_TRUE(platform::IsProcessRunning(::getpid()));
    for (const int pid : {0, -1, INT_MAX}) EXPECT_FALSE(platform::IsProcessRunning(pid)) << pid;

    std::thread worker([&] {
        const int tid = static_cast<int>(::syscall(SYS_gettid));
        EXPECT_FALSE(platform::IsProcessRunning(tid)) << "a thread is no process";
    });
    worker.join();

    const int pid = Start(QuotedProbe() + " --sleep");
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(platform::IsProcessRunning(pid));
    ::kill(pid, SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return StateOf(pid) == 'Z'; }));
    EXPECT_FALSE(platform::IsProcessRunning(pid)) << "a zombie has ended";
    EXPECT_EQ(m_manager.Wait(pid, 10s), pid);
    EXPECT_FALSE(platform::IsProcessRunning(pid));
}

// The controller and every handler own a manager, on threads of their own:
// one manager's waits never take another's children.
TEST_F(ProcessManagerTest, ManagersOnSeveralThreadsKeepTheirOwnChildren) {
    constexpr int kThreads = 3;
    constexpr int kChildren = 4;
    std::vector<std::vector<int>> pids(kThreads);
    std::vector<int> remaining(kThreads, -2);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ProcessManager own;
            for (int i = 0; i < kChildren; ++i) pids[t].push_back(own.Spawn(QuotedProbe() + " t"));
            remaining[t] = own.WaitAll(20s);
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(remaining[t], 0);
        for (const int pid : pids[t]) {
            ASSERT_GT(pid, 0);
            EXPECT_EQ(ArgsOf(pid), (Words{m_probe.string(), "t"}));
            EXPECT_EQ(m_manager.Wait(pid, 0ms), -1) << "not this manager's child";
        }
    }
}

}  // namespace
