#include "ProcessTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace platform::proc {
namespace {

// Reads at most `limit` bytes of a /proc file; false when it cannot be
// opened (the process is gone) or read.
bool ReadSmallFile(const std::string& path, std::size_t limit, std::string* out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out->clear();
    char buffer[4096];
    bool ok = true;
    while (out->size() < limit) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - out->size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        out->append(buffer, static_cast<std::size_t>(n));
        // The kernel hands out these files whole as far as the buffer
        // reaches: a short read is their end, and saves a further call.
        if (static_cast<std::size_t>(n) < sizeof buffer) break;
    }
    ::close(fd);
    return ok;
}

std::string ProcPath(int pid, const char* entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool ReadComm(int pid, std::string* comm) {
    if (pid <= 0 || !ReadSmallFile(ProcPath(pid, "comm"), 64, comm)) return false;
    if (!comm->empty() && comm->back() == '\n') comm->pop_back();
    return true;
}

bool ReadStat(int pid, Stat* stat) {
    if (pid <= 0) return false;
    std::string text;
    // The line is about 300 bytes; the comm in it is at most 15.
    if (!ReadSmallFile(ProcPath(pid, "stat"), 1024, &text)) return false;
    // "pid (comm) state ppid pgrp session tty tpgid flags minflt cminflt
    //  majflt cmajflt utime stime cutime cstime priority nice ..."; the comm
    // may itself hold blanks and parentheses, so it ends at the last ')'.
    const auto open = text.find('(');
    const auto close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    stat->comm = text.substr(open + 1, close - open - 1);
    std::vector<long> fields;
    const char* p = text.c_str() + close + 1;
    while (*p == ' ') ++p;
    if (*p == '\0') return false;
    stat->state = *p++;
    // Fields after the state: ppid(0) pgrp(1) session(2) ... nice(15).
    for (int i = 0; i < 16; ++i) {
        char* end = nullptr;
        const long v = std::strtol(p, &end, 10);
        if (end == p) return false;
        fields.push_back(v);
        p = end;
    }
    stat->parent = static_cast<int>(fields[0]);
    stat->group = static_cast<int>(fields[1]);
    stat->session = static_cast<int>(fields[2]);
    stat->nice = static_cast<int>(fields[15]);
    return true;
}

int ReadThreadGroup(int pid) {
    if (pid <= 0) return 0;
    std::string text;
    // "Name:", "Umask:", "State:", "Tgid:" come first; the name is at most
    // 64 bytes even with escapes.
    if (!ReadSmallFile(ProcPath(pid, "status"), 512, &text)) return 0;
    const auto at = text.find("\nTgid:");
    if (at == std::string::npos) return 0;
    return std::atoi(text.c_str() + at + 6);
}

bool HasEnded(char state) {
    return state == 'Z' || state == 'X' || state == 'x';
}

std::vector<std::string> ReadCommandWords(int pid, std::size_t maxWords) {
    std::vector<std::string> words;
    std::string text;
    // Enough for three full paths; longer command lines are cut, which only
    // loses words past the ones asked for.
    if (!ReadSmallFile(ProcPath(pid, "cmdline"), 3 * 4096 + 16, &text)) return words;
    std::size_t start = 0;
    while (words.size() < maxWords && start < text.size()) {
        auto end = text.find('\0', start);
        if (end == std::string::npos) end = text.size();
        words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

std::string ReadExePath(int pid) {
    char buffer[4096];
    const ssize_t n = ::readlink(ProcPath(pid, "exe").c_str(), buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return {};
    std::string path(buffer, static_cast<std::size_t>(n));
    // A replaced or removed executable is shown with this suffix.
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
        path.resize(path.size() - deleted.size());
    }
    return path;
}

std::string LastComponent(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ResolveImageName(const std::string& comm, const std::vector<std::string>& commandWords,
                             const std::string& exePath) {
    if (comm.size() < kCommLength) return comm;
    for (std::size_t i = 0; i < commandWords.size() && i < 3; ++i) {
        std::string candidate = LastComponent(commandWords[i]);
        if (StartsWith(candidate, comm)) return candidate;
    }
    std::string candidate = LastComponent(exePath);
    if (StartsWith(candidate, comm)) return candidate;
    return comm;
}

std::string ReadFullImageName(int pid, const std::string& comm) {
    if (comm.size() < kCommLength) return comm;
    std::vector<std::string> words = ReadCommandWords(pid, 3);
    // A process in the middle of exec (its starter may already run on) has
    // no words laid out for a moment; every other one with an executable has
    // at least one, if empty. Kernel threads have neither.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2);
    while (words.empty() && std::chrono::steady_clock::now() < until && !ReadExePath(pid).empty()) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        words = ReadCommandWords(pid, 3);
    }
    std::string name = ResolveImageName(comm, words, {});
    // The executable's path only when no command word gave the name.
    if (name == comm) name = ResolveImageName(comm, {}, ReadExePath(pid));
    return name;
}

bool ReadImageName(int pid, std::string* name) {
    Stat stat;
    if (!ReadStat(pid, &stat) || HasEnded(stat.state)) return false;
    *name = ReadFullImageName(pid, stat.comm);
    return true;
}

std::vector<int> ListProcesses() {
    std::vector<int> pids;
    DIR* dir = ::opendir("/proc");
    if (dir == nullptr) return pids;
    while (const dirent* entry = ::readdir(dir)) {
        const char* n = entry->d_name;
        if (*n < '1' || *n > '9') continue;
        char* end = nullptr;
        const long pid = std::strtol(n, &end, 10);
        if (*end == '\0' && pid > 0 && pid <= 0x7fffffff) pids.push_back(static_cast<int>(pid));
    }
    ::closedir(dir);
    return pids;
}

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

}  // namespace platform::proc
