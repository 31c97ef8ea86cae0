// Finding and ending processes by image name, detached starts and the
// shutdown script. Runs in a PID namespace of its own: the kills reach only
// this test's processes, and detached programs are reaped by the
// namespace's first process.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "Process.h"
#include "ProcessTable.h"
#include "ProcessTestSupport.h"

using namespace std::chrono_literals;
using platform::IsImageRunning;
using platform::KillImage;
using platform::ProcessManager;
using process_test::ProbeFolder;
using process_test::StateOf;
using process_test::WaitUntil;

namespace {

namespace fs = std::filesystem;

// The namespace's first process must reap orphans, detached programs among
// them. When this test is itself the first process (the launcher ran it in
// place), it stands in: before any test runs it splits, the first process
// only reaps and passes on the status of the half that runs the tests.
struct NamespaceInit {
    NamespaceInit() {
        if (::getpid() != 1) return;
        const pid_t tests = ::fork();
        if (tests <= 0) return;  // the tests run here (or unsplit)
        // Known by another name than the tests', which kill their own.
        ::prctl(PR_SET_NAME, "zor-ns-init");
        for (;;) {
            int status = 0;
            const pid_t ended = ::waitpid(-1, &status, 0);
            if (ended < 0 && errno == EINTR) continue;
            if (ended < 0) ::_exit(1);
            if (ended == tests) {
                ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
            }
        }
    }
};
const NamespaceInit g_namespaceInit;

class ImageTest : public ProbeFolder {
  protected:
    void SetUp() override {
        ProbeFolder::SetUp();
        // Outside a PID namespace of its own, the kills below would reach
        // whatever runs on the machine under these names.
        ASSERT_LT(::getpid(), 16) << "run it under scripts/netns-run --pid";
    }
    void TearDown() override {
        for (const auto& [name, pid] : m_pids) ::kill(pid, SIGKILL);
        m_manager.WaitAll(10s);
        ProbeFolder::TearDown();
    }

    // Starts `file` (in the folder) sleeping, remembered under its name.
    void StartSleeping(const std::string& name, const std::string& extra = " --sleep") {
        const int pid = m_manager.Spawn("\"" + (m_dir / name).string() + "\"" + extra);
        ASSERT_GT(pid, 0) << name << ": " << m_manager.LastError();
        m_pids[name] = pid;
    }

    // Starts one of each way a process can be known by name.
    void StartTheZoo() {
        CopyProbe("XDRZ.exe");
        CopyProbe("xdrz.exe");
        CopyProbe("DistributionCopyLongName.exe");
        CopyProbe("DistributionCopyLongOther.exe");  // same first 15 bytes
        fs::create_symlink(m_probe, m_dir / "LinkedProbeLongName");
        // A script whose interpreter (with an argument) is the probe; the
        // kernel ends the interpreter's path at the first blank.
        const fs::path interpreter = m_root / "process_probe";
        fs::copy_file(m_probe, interpreter);
        WriteFile("ScriptedProbeWithLongName.sh", "#!" + interpreter.string() + " --sleep\n", true);
        // A shell script that waits on a FIFO no one ever writes to.
        ASSERT_EQ(::mkfifo((m_dir / "never").c_str(), 0600), 0);
        WriteFile("shscript.cmd", "#!/bin/sh\nread line < \"" + (m_dir / "never").string() + "\"\n",
                  true);
        for (const char* name : {"probe", "XDRZ.exe", "xdrz.exe", "DistributionCopyLongName.exe",
                                 "DistributionCopyLongOther.exe", "LinkedProbeLongName"}) {
            StartSleeping(name);
        }
        StartSleeping("ScriptedProbeWithLongName.sh", "");
        StartSleeping("shscript.cmd", "");
        // A start returns while the exec may still be laying out the new
        // program; the table shows it fully once its words are there.
        for (const auto& [name, pid] : m_pids) {
            ASSERT_TRUE(WaitUntil([pid = pid] {
                return !platform::proc::ReadCommandWords(pid, 1).empty();
            })) << name;
        }
    }

    // What the process table says of the started processes, for failures.
    std::string Describe() const {
        std::string text;
        for (const auto& [name, pid] : m_pids) {
            platform::proc::Stat stat;
            platform::proc::ReadStat(pid, &stat);
            std::string words;
            for (const auto& w : platform::proc::ReadCommandWords(pid, 4)) words += " [" + w + "]";
            text += name + ": " + std::to_string(pid) + " " + stat.state + " (" + stat.comm + ")" +
                    words + " exe " + platform::proc::ReadExePath(pid) + "\n";
        }
        return text;
    }

    // Ended and reaped (the pid's entry is gone).
    bool Reaped(const std::string& name) {
        return m_manager.Wait(m_pids.at(name), 10s) == m_pids.at(name);
    }

    ProcessManager m_manager;
    std::map<std::string, int> m_pids;
};

TEST_F(ImageTest, ImagesAreKnownByTheNameTheyWereStartedBy) {
    ASSERT_NO_FATAL_FAILURE(StartTheZoo());
    const std::pair<const char*, bool> cases[] = {
        {"probe", true},
        {"PROBE", true},
        {"XDRZ.exe", true},
        {"xdrz.EXE", true},
        {"DistributionCopyLongName.exe", true},
        {"distributioncopylongname.EXE", true},
        {"DistributionCopyLongOther.exe", true},
        {"DistributionCop", false},  // what the kernel keeps of both
        {"DistributionCopyLong", false},
        {"DistributionCopyLongName.exe2", false},
        {"LinkedProbeLongName", true},
        {"ScriptedProbeWithLongName.sh", true},
        {"shscript.cmd", true},
        {"SHSCRIPT.CMD", true},
        {"process_probe", false},  // the script's interpreter
        {"sh", false},
        {"dash", false},
        {"Tessera.exe", false},
        {"", false},
    };
    for (const auto& [name, running] : cases) {
        EXPECT_EQ(IsImageRunning(name), running) << name << "\n" << Describe();
    }

    std::string name;
    ASSERT_TRUE(platform::proc::ReadImageName(m_pids.at("DistributionCopyLongName.exe"), &name));
    EXPECT_EQ(name, "DistributionCopyLongName.exe");
}

TEST_F(ImageTest, KillImageEndsExactlyTheMatchingProcesses) {
    ASSERT_NO_FATAL_FAILURE(StartTheZoo());

    // Only the probe started by its own name; the link to it counts by the
    // link's name.
    EXPECT_EQ(KillImage("probe"), 1);
    EXPECT_TRUE(Reaped("probe"));
    EXPECT_EQ(KillImage("xdrz.exe"), 1);
    EXPECT_TRUE(Reaped("xdrz.exe"));
    EXPECT_TRUE(platform::IsProcessRunning(m_pids.at("XDRZ.exe"))) << "other letter case";
    EXPECT_EQ(KillImage("distributioncopylongother.exe"), 0);
    EXPECT_EQ(KillImage("DistributionCop"), 0);
    EXPECT_EQ(KillImage("DistributionCopyLongName.exe"), 1);
    EXPECT_TRUE(Reaped("DistributionCopyLongName.exe"));
    EXPECT_TRUE(platform::IsProcessRunning(m_pids.at("DistributionCopyLongOther.exe")));
    EXPECT_EQ(KillImage(""), 0);

    // A killed process is no longer running while it is still a zombie.
    const int script = m_pids.at("ScriptedProbeWithLongName.sh");
    EXPECT_EQ(KillImage("ScriptedProbeWithLongName.sh"), 1);
    ASSERT_TRUE(WaitUntil([&] { return StateOf(script) == 'Z'; }));
    EXPECT_FALSE(IsImageRunning("ScriptedProbeWithLongName.sh"));
    EXPECT_EQ(KillImage("ScriptedProbeWithLongName.sh"), 0) << "a zombie is not killed again";
    EXPECT_TRUE(Reaped("ScriptedProbeWithLongName.sh"));

    for (const char* name :
         {"LinkedProbeLongName", "shscript.cmd", "XDRZ.exe", "DistributionCopyLongOther.exe"}) {
        EXPECT_EQ(KillImage(name), 1) << name;
        EXPECT_TRUE(Reaped(name)) << name;
    }
    m_pids.clear();
    EXPECT_EQ(m_manager.WaitAll(0ms), 0);
}

TEST_F(ImageTest, KillImageNeverEndsTheCaller) {
    std::string own;
    ASSERT_TRUE(platform::proc::ReadImageName(::getpid(), &own));
    EXPECT_EQ(own, fs::read_symlink("/proc/self/exe").filename().string());
    CopyProbe(own);
    StartSleeping(own);
    EXPECT_EQ(KillImage(own), 1) << "the copy, not the caller";
    EXPECT_TRUE(Reaped(own));
    m_pids.clear();
}

TEST_F(ImageTest, DetachedProgramIsNoChildAndNeverAZombie) {
    CopyProbe("Tessera.exe");
    std::string error;
    const int pid = platform::SpawnDetached("./Tessera.exe", {"--sleep"}, m_dir.string(), &error);
    ASSERT_GT(pid, 0) << error;
    EXPECT_TRUE(platform::IsProcessRunning(pid));
    EXPECT_TRUE(IsImageRunning("tessera.exe"));
    platform::proc::Stat stat;
    ASSERT_TRUE(platform::proc::ReadStat(pid, &stat));
    EXPECT_NE(stat.parent, ::getpid());
    EXPECT_EQ(stat.session, pid) << "a session of its own";

    EXPECT_EQ(KillImage("Tessera.exe"), 1);
    EXPECT_TRUE(WaitUntil([&] { return StateOf(pid) == '\0'; })) << "reaped by the system";

    // Words and working directory reach the program; no shell is involved
    // but the one asked for.
    const int sh =
        platform::SpawnDetached("/bin/sh", {"-c", "pwd > here.txt"}, m_dir.string(), &error);
    ASSERT_GT(sh, 0) << error;
    ASSERT_TRUE(WaitUntil([&] { return StateOf(sh) == '\0'; }));
    std::ifstream in(m_dir / "here.txt");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, m_dir.string());
}

TEST_F(ImageTest, DetachedStartThatCannotHappenFails) {
    WriteFile("not-executable", "#!/bin/sh\n", false);
    struct Case {
        std::string program;
        std::string folder;
    };
    const Case cases[] = {
        {"/nonexistent/Tessera.exe", ""},
        {"zor-no-such-program-anywhere", ""},
        {(m_dir / "not-executable").string(), ""},
        {"./probe", m_dir.string() + "/nonexistent"},
        {"./Tessera.exe", m_dir.string()},  // not there
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(platform::SpawnDetached(c.program, {}, c.folder, &error), -1) << c.program;
        EXPECT_FALSE(error.empty()) << c.program;
    }
}

TEST_F(ImageTest, ShutdownScriptRunsDetachedWhenPresent) {
    const auto previous = fs::current_path();
    fs::current_path(m_dir);
    testing::internal::CaptureStderr();
    const bool absent = platform::RunShutdownScript("termPEL.cmd");
    const std::string complaint = testing::internal::GetCapturedStderr();
    // A script without the execute bit, as copied from Windows.
    WriteFile("termPEL.cmd", "echo ran > termPEL.ran\n", false);
    const bool present = platform::RunShutdownScript("termPEL.cmd");
    fs::current_path(previous);

    EXPECT_FALSE(absent);
    EXPECT_NE(complaint.find("termPEL.cmd"), std::string::npos) << complaint;
    EXPECT_EQ(std::count(complaint.begin(), complaint.end(), '\n'), 1) << complaint;
    EXPECT_TRUE(present);
    EXPECT_TRUE(WaitUntil([&] {
        std::ifstream in(m_dir / "termPEL.ran");
        std::string word;
        return static_cast<bool>(in >> word) && word == "ran";
    }));
}

}  // namespace
