#pragma once
// Reading the system's process table (/proc): the state of a process and
// the name of the image it runs. Internal to the process layer; kept apart
// so that the naming rule can be tested on its own.
//
// Image name rule. The kernel keeps, for each process, the last component of
// the path given to exec ("comm"), cut to 15 bytes; for a `#!` script that is
// the script's own name, for a symbolic link the link's name. So:
//  - a comm of fewer than 15 bytes is the whole name;
//  - a comm of exactly 15 bytes may be cut: the full name is the last path
//    component of the first of argv[0], argv[1], argv[2] (the kernel puts the
//    interpreter, its optional argument and the script path in front of a
//    script's arguments) or of the executable's path that begins with the
//    comm; when none does (a program that rewrote its arguments) the comm
//    itself is the name.
// A process that renames itself (prctl PR_SET_NAME) is known by its new
// name; nothing of the suite does that.

#include <cstddef>
#include <string>
#include <vector>

namespace platform::proc {

// The number of bytes the kernel keeps of an image name.
constexpr std::size_t kCommLength = 15;

struct Stat {
    std::string comm;  // as the kernel keeps it (at most kCommLength bytes)
    char state = '?';  // 'R', 'S', 'Z', ...
    int parent = 0;
    int group = 0;    // process group
    int session = 0;  // session id
    int nice = 0;
};

// Reads /proc/<pid>/comm (cheaper than the whole stat line). False when
// the process does not exist (any more).
bool ReadComm(int pid, std::string* comm);

// Reads /proc/<pid>/stat. False when the process does not exist (any more)
// or the entry cannot be read.
bool ReadStat(int pid, Stat* stat);

// The thread group (process) a task id belongs to, from /proc/<id>/status;
// 0 when it cannot be read. Differs from the id for the id of a thread.
int ReadThreadGroup(int pid);

// True for the state letters of a process that has ended (zombie, dead).
bool HasEnded(char state);

// The first `maxWords` words of /proc/<pid>/cmdline (bounded read).
std::vector<std::string> ReadCommandWords(int pid, std::size_t maxWords);

// The target of /proc/<pid>/exe; empty when it cannot be read.
std::string ReadExePath(int pid);

// The last component of a '/'-separated path.
std::string LastComponent(const std::string& path);

// The image name from what the kernel keeps (rule above).
std::string ResolveImageName(const std::string& comm, const std::vector<std::string>& commandWords,
                             const std::string& exePath);

// The image name of a process whose comm is known: the comm itself when it
// cannot be cut, else the command words, else the executable (read only as
// far as needed).
std::string ReadFullImageName(int pid, const std::string& comm);

// The image name of a live process (reads comm, and the command words and
// executable only when the comm may be cut). False when the process does
// not exist or has ended.
bool ReadImageName(int pid, std::string* name);

// Every process id listed in /proc, in the order listed.
std::vector<int> ListProcesses();

// ASCII letter case folded comparison (image names of the suite are ASCII;
// other bytes must match exactly).
bool EqualsIgnoreCase(const std::string& a, const std::string& b);

}  // namespace platform::proc
