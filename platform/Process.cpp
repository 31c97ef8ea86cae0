#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "ProcessTable.h"

extern char** environ;

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kDefaultPath = "/usr/local/bin:/usr/bin:/bin";

std::string ErrorText(int error) {
    return std::system_category().message(error);
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The file to execute for the first word of a command line (rule in
// Process.h). False, with `error` set, when a name without a folder is on
// no PATH entry.
bool ResolveProgram(const std::string& word, std::string* path, std::string* error) {
    if (word.find('/') != std::string::npos) {
        *path = word;
        return true;
    }
    const char* env = std::getenv("PATH");
    const std::string list = env != nullptr ? env : kDefaultPath;
    std::size_t start = 0;
    for (;;) {
        const auto end = std::min(list.find(':', start), list.size());
        const std::string folder = list.substr(start, end - start);
        std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + word;
        if (IsExecutableFile(candidate)) {
            *path = std::move(candidate);
            return true;
        }
        if (end == list.size()) break;
        start = end + 1;
    }
    *error = "cannot start " + Quoted(word) + ": no executable file of that name on the PATH";
    return false;
}

// The environment of a child that does not inherit ZOR's.
std::vector<std::string> MinimalEnvironment() {
    const char* path = std::getenv("PATH");
    return {std::string("PATH=") + (path != nullptr ? path : kDefaultPath)};
}

// Pointers into `words` for exec, closed by a null pointer. The words must
// outlive the result and not change.
std::vector<char*> PointerList(std::vector<std::string>& words) {
    std::vector<char*> list;
    list.reserve(words.size() + 1);
    for (auto& word : words) list.push_back(word.data());
    list.push_back(nullptr);
    return list;
}

// posix_spawn's attribute and file-action objects, released on every path.
class SpawnSettings {
  public:
    SpawnSettings() {
        m_attrOk = ::posix_spawnattr_init(&m_attr) == 0;
        m_actionsOk = ::posix_spawn_file_actions_init(&m_actions) == 0;
    }
    ~SpawnSettings() {
        if (m_attrOk) ::posix_spawnattr_destroy(&m_attr);
        if (m_actionsOk) ::posix_spawn_file_actions_destroy(&m_actions);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    // 0 or the error number of the first step that failed.
    int Prepare(bool ownSession) {
        if (!m_attrOk || !m_actionsOk) return ENOMEM;
        // ZOR's threads block and ignore signals for their own reasons
        // (orderly stop, broken pipes); a child starts with neither.
        sigset_t none;
        sigset_t all;
        ::sigemptyset(&none);
        ::sigfillset(&all);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (ownSession) flags |= POSIX_SPAWN_SETSID;
        int rc = ::posix_spawnattr_setflags(&m_attr, flags);
        if (rc == 0) rc = ::posix_spawnattr_setsigmask(&m_attr, &none);
        if (rc == 0) rc = ::posix_spawnattr_setsigdefault(&m_attr, &all);
        if (rc == 0)
            rc = ::posix_spawn_file_actions_addopen(&m_actions, 0, "/dev/null", O_RDONLY, 0);
        if (rc == 0) rc = ::posix_spawn_file_actions_addclosefrom_np(&m_actions, 3);
        return rc;
    }
    const posix_spawnattr_t* Attributes() const { return &m_attr; }
    const posix_spawn_file_actions_t* Actions() const { return &m_actions; }

  private:
    posix_spawnattr_t m_attr{};
    posix_spawn_file_actions_t m_actions{};
    bool m_attrOk = false;
    bool m_actionsOk = false;
};

// Raises a started child's priority where permitted; a refusal leaves it as
// it is.
void RaisePriority(int pid) {
    errno = 0;
    const int own = ::getpriority(PRIO_PROCESS, 0);
    if (errno == 0 && own <= kHighPriorityNice) return;  // already as high
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), kHighPriorityNice);
}

// Through syscall(): the C library's header for these lacks C linkage for
// C++ in the version we build with. The pidfd is close-on-exec.
int OpenPidFd(int pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

bool SendKill(int pidfd) {
    return ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0;
}

int CeilMilliseconds(Clock::duration d) {
    const auto ms = std::chrono::ceil<milliseconds>(d).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, INT_MAX));
}

// Matching an image name: a quick look at the comm first, the full name
// (command words, executable) only when the comm may be a cut one.
bool ImageMatches(int pid, const std::string& name, bool ignoreCase) {
    auto same = [ignoreCase](const std::string& a, const std::string& b) {
        return ignoreCase ? proc::EqualsIgnoreCase(a, b) : a == b;
    };
    std::string comm;
    if (!proc::ReadComm(pid, &comm)) return false;
    if (comm.size() < proc::kCommLength) {
        if (!same(comm, name)) return false;
    } else if (name.size() < proc::kCommLength || !same(name.substr(0, proc::kCommLength), comm) ||
               !same(proc::ReadFullImageName(pid, comm), name)) {
        return false;
    }
    // A zombie has ended: only a name that matches is worth the state.
    proc::Stat stat;
    return proc::ReadStat(pid, &stat) && !proc::HasEnded(stat.state);
}

// --- Detached start -------------------------------------------------------
//
// The program is started by an intermediate child that forks it and exits
// at once: the program then belongs to the system's reaper, never becomes
// our zombie, and is not a child any wait of ours could pick up. Between the
// forks and the exec only async-signal-safe calls are made (ZOR has other
// threads). A close-on-exec pipe carries back the program's id and, when it
// could not be started, the reason.

struct Report {
    enum Kind : int { Started = 1, ForkFailed, ChdirFailed, ExecFailed };
    int kind;
    int value;  // process id or error number
};

void SendReport(int fd, Report::Kind kind, int value) {
    const Report report{kind, value};
    // One record is far below PIPE_BUF: written whole or not at all.
    while (::write(fd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void ExecDetached(const char* path, char* const* argv, char* const* envp,
                               const char* workingDirectory, int reportFd) {
    ::setsid();
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &defaults, nullptr);
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull > 0) {
        ::dup2(devNull, 0);
        ::close(devNull);
    }
    // Keep 0, 1, 2 and the report pipe (which closes itself on exec).
    if (reportFd > 3) ::close_range(3, static_cast<unsigned>(reportFd) - 1, 0);
    ::close_range(static_cast<unsigned>(reportFd) + 1, ~0U, 0);
    if (workingDirectory != nullptr && ::chdir(workingDirectory) != 0) {
        SendReport(reportFd, Report::ChdirFailed, errno);
        ::_exit(127);
    }
    ::execve(path, argv, envp);
    SendReport(reportFd, Report::ExecFailed, errno);
    ::_exit(127);
}

bool HasNul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

}  // namespace

// --- Command lines ---------------------------------------------------------

std::optional<std::vector<std::string>> SplitCommandLine(const std::string& line,
                                                         std::string* error) {
    auto refuse = [error](std::string why) -> std::optional<std::vector<std::string>> {
        if (error != nullptr) *error = std::move(why);
        return std::nullopt;
    };
    if (line.size() > kMaxCommandLine) {
        return refuse("command line of " + std::to_string(line.size()) +
                      " characters refused: longer than " + std::to_string(kMaxCommandLine));
    }
    if (HasNul(line)) return refuse("command line refused: it holds a NUL byte");

    std::vector<std::string> words;
    std::string word;
    bool inWord = false;  // a word has begun (a quote begins one, even "")
    bool quoted = false;
    for (const char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));

    if (words.empty()) return refuse("empty command line refused");
    if (words.front().empty()) return refuse("command line refused: it names no program");
    if (words.size() > kMaxArguments) {
        return refuse("command line of " + std::to_string(words.size()) +
                      " words refused: more than " + std::to_string(kMaxArguments));
    }
    return words;
}

// --- Process manager -------------------------------------------------------

ProcessManager::ProcessManager(std::size_t capacity) : m_capacity(capacity) {
    m_children.reserve(std::min<std::size_t>(capacity, 128));
}

ProcessManager::~ProcessManager() {
    ReapEnded();
    for (const auto& child : m_children) {
        if (child.pidfd >= 0) ::close(child.pidfd);
    }
}

int ProcessManager::Spawn(const std::string& commandLine, const LaunchOptions& options) {
    std::string error;
    auto words = SplitCommandLine(commandLine, &error);
    if (!words) {
        m_error = std::move(error);
        return -1;
    }
    ReapEnded();
    if (m_children.size() >= m_capacity) {
        m_error = "cannot start " + Quoted(words->front()) + ": the process manager already has " +
                  std::to_string(m_capacity) + " processes";
        return -1;
    }
    std::string path;
    if (!ResolveProgram(words->front(), &path, &m_error)) return -1;

    SpawnSettings settings;
    if (const int rc = settings.Prepare(options.ownSession); rc != 0) {
        m_error = "cannot start " + Quoted(path) + ": " + ErrorText(rc);
        return -1;
    }
    std::vector<std::string> environment;
    if (!options.inheritEnvironment) environment = MinimalEnvironment();
    std::vector<char*> envp = PointerList(environment);
    std::vector<char*> argv = PointerList(*words);

    pid_t pid = -1;
    // glibc's posix_spawn reports a failed exec as its result.
    const int rc = ::posix_spawn(&pid, path.c_str(), settings.Actions(), settings.Attributes(),
                                 argv.data(), options.inheritEnvironment ? environ : envp.data());
    if (rc != 0) {
        m_error = "cannot start " + Quoted(path) + ": " + ErrorText(rc);
        return -1;
    }
    if (options.highPriority) RaisePriority(pid);
    m_children.push_back(Child{pid, OpenPidFd(pid)});
    return pid;
}

std::size_t ProcessManager::Find(int pid) const {
    for (std::size_t i = 0; i < m_children.size(); ++i) {
        if (m_children[i].pid == pid) return i;
    }
    return m_children.size();
}

void ProcessManager::Forget(std::size_t index) {
    if (m_children[index].pidfd >= 0) ::close(m_children[index].pidfd);
    m_children.erase(m_children.begin() + static_cast<std::ptrdiff_t>(index));
}

void ProcessManager::ReapEnded() {
    for (std::size_t i = m_children.size(); i-- > 0;) {
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(m_children[i].pid, &status, WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r == m_children[i].pid || (r < 0 && errno == ECHILD)) Forget(i);
    }
}

int ProcessManager::Wait(int pid, milliseconds limit) {
    return WaitUntil(pid, Clock::now() + std::max(limit, milliseconds(0)));
}

int ProcessManager::WaitUntil(int pid, Clock::time_point deadline) {
    const std::size_t index = Find(pid);
    if (pid <= 0 || index == m_children.size()) {
        m_error = "process " + std::to_string(pid) +
                  " was not started by this process manager or was already waited for";
        return -1;
    }
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            Forget(index);
            return pid;
        }
        if (r < 0) {
            if (errno == EINTR) continue;
            const int e = errno;
            m_error = "cannot wait for process " + std::to_string(pid) + ": " + ErrorText(e);
            // ECHILD: someone else reaped it; it is no longer ours to wait for.
            if (e == ECHILD) Forget(index);
            return -1;
        }
        const auto now = Clock::now();
        if (now >= deadline) return 0;
        const int pidfd = m_children[index].pidfd;
        if (pidfd >= 0) {
            pollfd ready{pidfd, POLLIN, 0};
            ::poll(&ready, 1, CeilMilliseconds(deadline - now));  // EINTR: look again
        } else {
            // No pidfd (an old kernel): look again in short steps.
            std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, milliseconds(5)));
        }
    }
}

int ProcessManager::WaitAll(milliseconds limit) {
    const auto deadline = Clock::now() + std::max(limit, milliseconds(0));
    std::vector<int> pids;
    pids.reserve(m_children.size());
    for (const auto& child : m_children) pids.push_back(child.pid);
    bool failed = false;
    // One after the other against one deadline: a child that never ends uses
    // up the time, the rest are then only looked at.
    for (const int pid : pids) {
        if (WaitUntil(pid, deadline) < 0) failed = true;
    }
    return failed ? -1 : static_cast<int>(m_children.size());
}

// --- Process table -----------------------------------------------------------

bool IsProcessRunning(int pid) {
    proc::Stat stat;
    // /proc/<id> also answers for the id of a thread, which is no process.
    return proc::ReadStat(pid, &stat) && !proc::HasEnded(stat.state) &&
           proc::ReadThreadGroup(pid) == pid;
}

bool IsImageRunning(const std::string& imageName) {
    if (imageName.empty()) return false;
    for (const int pid : proc::ListProcesses()) {
        if (ImageMatches(pid, imageName, true)) return true;
    }
    return false;
}

int KillImage(const std::string& imageName) {
    if (imageName.empty()) return 0;
    const int self = ::getpid();
    int killed = 0;
    for (const int pid : proc::ListProcesses()) {
        if (pid == self || !ImageMatches(pid, imageName, false)) continue;
        // The pidfd pins the process looked at: if the id has been handed to
        // a new process in the meantime, the check below sees that one, and a
        // signal through the pidfd can only reach the one checked.
        const int pidfd = OpenPidFd(pid);
        if (pidfd < 0) {
            if (errno == ENOSYS && ImageMatches(pid, imageName, false) &&
                ::kill(pid, SIGKILL) == 0) {
                ++killed;
            }
            continue;  // gone, or not ours to touch
        }
        if (ImageMatches(pid, imageName, false) && SendKill(pidfd)) {
            ++killed;
        }
        ::close(pidfd);
    }
    return killed;
}

// --- Detached start and the shutdown script ------------------------------

int SpawnDetached(const std::string& program, const std::vector<std::string>& args,
                  const std::string& workingDirectory, std::string* error) {
    auto fail = [error](std::string why) {
        if (error != nullptr) *error = std::move(why);
        return -1;
    };
    if (program.empty()) return fail("cannot start a program without a name");
    bool nul = HasNul(program) || HasNul(workingDirectory);
    for (const auto& arg : args) nul = nul || HasNul(arg);
    if (nul) return fail("cannot start " + Quoted(program) + ": a word holds a NUL byte");
    std::string path;
    std::string why;
    if (!ResolveProgram(program, &path, &why)) return fail(why);

    // Everything the child needs is made before the fork.
    std::vector<std::string> words;
    words.reserve(args.size() + 1);
    words.push_back(program);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv = PointerList(words);
    const char* folder = workingDirectory.empty() ? nullptr : workingDirectory.c_str();

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return fail("cannot start " + Quoted(path) + ": " + ErrorText(errno));
    }
    // The write end must not be 0, 1 or 2, which the child rearranges.
    int reportFd = pipeFds[1];
    if (reportFd < 3) {
        reportFd = ::fcntl(pipeFds[1], F_DUPFD_CLOEXEC, 3);
        ::close(pipeFds[1]);
        if (reportFd < 0) {
            ::close(pipeFds[0]);
            return fail("cannot start " + Quoted(path) + ": " + ErrorText(errno));
        }
    }

    const pid_t middle = ::fork();
    if (middle == 0) {
        ::close(pipeFds[0]);
        const pid_t child = ::_Fork();
        if (child == 0) ExecDetached(path.c_str(), argv.data(), environ, folder, reportFd);
        if (child < 0) {
            SendReport(reportFd, Report::ForkFailed, errno);
        } else {
            SendReport(reportFd, Report::Started, child);
        }
        ::_exit(0);
    }
    const int forkError = errno;
    ::close(reportFd);
    if (middle < 0) {
        ::close(pipeFds[0]);
        return fail("cannot start " + Quoted(path) + ": " + ErrorText(forkError));
    }
    while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
    // Until end of file: the program's exec closes the last write end.
    int pid = -1;
    Report failure{0, 0};
    Report report{};
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], &report, sizeof report);
        if (n < 0 && errno == EINTR) continue;
        if (n != static_cast<ssize_t>(sizeof report)) break;
        if (report.kind == Report::Started) {
            pid = report.value;
        } else {
            failure = report;
        }
    }
    ::close(pipeFds[0]);
    if (failure.kind == Report::ChdirFailed) {
        return fail("cannot start " + Quoted(path) + " in " + Quoted(workingDirectory) + ": " +
                    ErrorText(failure.value));
    }
    if (failure.kind != 0)
        return fail("cannot start " + Quoted(path) + ": " + ErrorText(failure.value));
    if (pid <= 0) return fail("cannot start " + Quoted(path) + ": the starting process failed");
    return pid;
}

bool RunShutdownScript(const std::string& scriptName) {
    const std::string path =
        scriptName.find('/') == std::string::npos ? "./" + scriptName : scriptName;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        const std::string line = "ZOR: shutdown script " + Quoted(scriptName) +
                                 " not found in the working directory; not run\n";
        std::fputs(line.c_str(), stderr);
        return false;
    }
    std::string error;
    if (SpawnDetached("/bin/sh", {path}, "", &error) < 0) {
        const std::string line =
            "ZOR: shutdown script " + Quoted(scriptName) + " not run: " + error + "\n";
        std::fputs(line.c_str(), stderr);
        return false;
    }
    return true;
}

}  // namespace platform
