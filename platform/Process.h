#pragma once
// Starting, waiting for, finding and ending the suite's programs.
//
// A command line is one text whose first word is the executable; it is split
// into argument words by SplitCommandLine and never passed through a shell.
// Every failure is returned as a value (-1, false) with a readable reason;
// nothing here throws.
//
// Built directly on POSIX: posix_spawn (which reports a failed exec as its
// own error, so a program that cannot run is never mistaken for a started
// one), a pidfd per child for waits with a time limit, waitpid on the one
// child only (never on "any child": other owners' children are left alone),
// and /proc for the process table.
//
// What every child gets: standard input from /dev/null; ZOR's standard
// output and error; no other descriptor of ZOR (sockets, database and lock
// files stay private); no blocked and no ignored signals; the working
// directory of ZOR.
//
// Executable lookup: a first word with a '/' is taken as it stands (relative
// to the working directory if relative); one without is looked up on the
// PATH of ZOR (the first regular, executable file; an empty PATH entry means
// the working directory, as for execvp). A file that is not a program the
// system can execute (no ELF image, no "#!" line) is not started: there is
// no fallback to a shell.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The longest command line accepted; a longer one is refused, never cut.
constexpr std::size_t kMaxCommandLine = 1024;
// The most words (program included) a command line may have.
constexpr std::size_t kMaxArguments = 128;

// How a child is created.
struct LaunchOptions {
    // true: the child gets ZOR's environment, all of it. false: it gets only
    // PATH (ZOR's value; "/usr/local/bin:/usr/bin:/bin" when ZOR has none),
    // so that it can still start programs by name.
    bool inheritEnvironment = true;
    // true ("no console window"): the child runs in a session of its own, so
    // the terminal's Ctrl-C and hang-up reach ZOR and not the child. false
    // ("default creation settings"): it stays in ZOR's process group.
    bool ownSession = true;
    // true: a raised scheduling priority (nice value kHighPriorityNice, set
    // right after the start) when the system permits it and ZOR's own is not
    // already higher; the inherited one otherwise. Never a reason for a
    // failed start. false: ZOR's own priority.
    bool highPriority = false;
};

// The nice value of a child started with high priority.
constexpr int kHighPriorityNice = -5;

// Splits a command line into argument words:
//  - blanks and tabs separate words; runs of them count as one separator,
//    leading and trailing ones are dropped; every other byte (non-ASCII,
//    control characters, shell characters such as ; | > $) is an ordinary
//    part of a word;
//  - a double quote starts or ends a quoted stretch in which blanks and tabs
//    belong to the word; the quote itself is dropped, so "a b"c gives one
//    word a bc, and quotes may start or end in the middle of a word;
//  - "" on its own gives an empty word;
//  - a quote that is not closed runs to the end of the line (the rest of the
//    line, blanks included, is part of the last word), as on Windows;
//  - backslashes are ordinary bytes, kept as they are (Windows paths use
//    them); there is therefore no way to put a double quote into a word.
// Empty optional, with `error` set, when the line is empty or only blanks,
// longer than kMaxCommandLine bytes, holds a NUL byte, has an empty first
// word (no program) or more than kMaxArguments words.
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

    // Waits for one process this manager started: its id once it has ended
    // (it is then reaped and forgotten), 0 when the limit ran out first, -1
    // on error (not one of ours or already waited for, reaped by someone
    // else). A limit of zero or less only looks.
    int Wait(int pid, std::chrono::milliseconds limit);

    // Waits for every process this manager started, never past the limit.
    // -1 on error; otherwise how many still run when it returns (0: all
    // ended).
    int WaitAll(std::chrono::milliseconds limit);

    // Readable reason of the last failure.
    const std::string& LastError() const { return m_error; }

  private:
    struct Child {
        int pid;
        int pidfd;  // readable once the child has ended; -1 if none could be had
    };
    // Reaps, without waiting, every child that has ended.
    void ReapEnded();
    // Forgets a child (closes its pidfd).
    void Forget(std::size_t index);
    std::size_t Find(int pid) const;
    // Wait with a deadline (shared by every child in WaitAll).
    int WaitUntil(int pid, std::chrono::steady_clock::time_point deadline);

    std::size_t m_capacity;
    std::vector<Child> m_children;
    std::string m_error;
};

// True only for a process that exists and has not ended (a zombie counts as
// ended).
bool IsProcessRunning(int pid);

// The image name of a process: the last component of the path it was
// executed by, so a copied binary, a symbolic link and a "#!" script each
// count by their own file name, never by the link target's or the
// interpreter's (ProcessTable.h has the rule). Zombies are not running.
// True when a running process has this image name, letter case ignored
// (ASCII letters).
bool IsImageRunning(const std::string& imageName);

// Ends (SIGKILL) every running process whose image name equals the name
// exactly, letter case included; skips silently what it may not end and
// never ends the calling process. Returns how many were ended.
int KillImage(const std::string& imageName);

// Starts a program detached: not a child to wait for, never a zombie (it is
// started by a short-lived intermediate process, so that it belongs to the
// system's reaper from the start), in a session of its own, with ZOR's
// environment. `program` is looked up as the first word of a command line;
// `args` are the words after it (argv[0] is `program`). An empty
// `workingDirectory` keeps ZOR's. The process id, or -1 (error in `error`)
// when it could not be started, exec failures included.
int SpawnDetached(const std::string& program, const std::vector<std::string>& args,
                  const std::string& workingDirectory, std::string* error = nullptr);

// Runs the suite's shutdown script (a file in the working directory) with
// /bin/sh, detached and not waited for. When the file is absent one line on
// standard error says so and nothing is started. False when it was not
// started.
bool RunShutdownScript(const std::string& scriptName);

}  // namespace platform
