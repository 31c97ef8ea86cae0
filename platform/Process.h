#pragma once
// Starting, waiting for, finding and ending the suite's programs.
//
// A command line is one text whose first word is the executable; it is split
// into argument words by SplitCommandLine and never passed through a shell.
// Every failure is returned as a value (-1, false) with a readable reason;
// nothing here throws.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The longest command line accepted; a longer one is refused, never cut.
constexpr std::size_t kMaxCommandLine = 1024;

// How a child is created.
struct LaunchOptions {
    // true: the child gets ZOR's environment; false: a minimal one (see the
    // implementation's documentation of what it keeps).
    bool inheritEnvironment = true;
    // true ("no console window"): the child runs in a session of its own, so
    // the terminal's Ctrl-C and hang-up reach ZOR and not the child. false
    // ("default creation settings"): it stays in ZOR's process group.
    bool ownSession = true;
    // true: a raised scheduling priority when the system permits it, normal
    // otherwise; never a reason for a failed start.
    bool highPriority = false;
};

// Splits a command line into argument words (rule documented with the
// implementation). Empty optional, with `error` set, when the line is empty,
// longer than kMaxCommandLine or otherwise unusable.
std::optional<std::vector<std::string>> SplitCommandLine(const std::string& line,
                                                         std::string* error = nullptr);

// Starts and waits for processes; remembers every process it started so that
// its owner can wait for all of them. Used by one thread at a time.
class ProcessManager {
  public:
    explicit ProcessManager(std::size_t capacity = 100);
    // Reaps what has ended; neither kills nor waits for what still runs.
    ~ProcessManager();
    ProcessManager(const ProcessManager&) = delete;
    ProcessManager& operator=(const ProcessManager&) = delete;

    // Starts the command line. The process id, or -1 when the program could
    // not be started (missing, not executable, exec failed, line refused,
    // manager full); LastError() then says why.
    int Spawn(const std::string& commandLine, const LaunchOptions& options = {});

    // Waits for one process this manager started: its id once it has ended,
    // 0 when the limit ran out first, -1 on error (not one of ours, ...).
    int Wait(int pid, std::chrono::milliseconds limit);

    // Waits for every process this manager started, never past the limit.
    // -1 on error; otherwise how many still run when it returns (0: all
    // ended).
    int WaitAll(std::chrono::milliseconds limit);

    // Readable reason of the last failure.
    const std::string& LastError() const { return m_error; }

  private:
    std::size_t m_capacity;
    std::vector<int> m_children;
    std::string m_error;
};

// True only for a process that exists and has not ended (a zombie counts as
// ended).
bool IsProcessRunning(int pid);

// The image name of a process: the last component of the path it was
// executed by (own file name for copies, links and #! scripts).
// True when a running process has this image name, letter case ignored.
bool IsImageRunning(const std::string& imageName);

// Ends (SIGKILL) every running process whose image name equals the name
// exactly, letter case included; skips silently what it may not end and
// never ends the calling process. Returns how many were ended.
int KillImage(const std::string& imageName);

// Starts a program detached: not a child to wait for, never a zombie.
// Arguments are given as words. The process id, or -1 (error in `error`).
int SpawnDetached(const std::string& program, const std::vector<std::string>& args,
                  const std::string& workingDirectory, std::string* error = nullptr);

// Runs the suite's shutdown script (a file in the working directory) with
// the system shell, detached and not waited for. When the file is absent one
// line on standard error says so. False when it was not started.
bool RunShutdownScript(const std::string& scriptName);

}  // namespace platform
