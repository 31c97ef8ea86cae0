// A separate process that takes the token lock file's byte-range lock, for
// the tests that need the lock held (or probed) by another process.
//
//   lock_holder <path> <hold-ms> [classic]
//
// Prints "locked" (then holds the lock for hold-ms and exits 0) or "busy"
// (exits 1) or "error" (exits 2) on standard output. "classic" takes a
// classic process-wide record lock instead of the seam's lock, the way
// other programs of the suite may do it.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "FileLock.h"

namespace {

int Report(const char* word, int code) {
    std::printf("%s\n", word);
    std::fflush(stdout);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Report("error", 2);
    const std::string path = argv[1];
    const long holdMs = std::strtol(argv[2], nullptr, 10);
    const bool classic = argc > 3 && std::strcmp(argv[3], "classic") == 0;

    platform::FileLock lock;
    int classicFd = -1;
    if (classic) {
        classicFd = ::open(path.c_str(), O_RDWR | O_CREAT, 0666);
        if (classicFd < 0) return Report("error", 2);
        struct flock range;
        std::memset(&range, 0, sizeof range);
        range.l_type = F_WRLCK;
        range.l_whence = SEEK_SET;
        range.l_start = 0;
        range.l_len = 256;
        if (::fcntl(classicFd, F_SETLK, &range) != 0) return Report("busy", 1);
    } else {
        if (!lock.Open(path)) return Report("error", 2);
        const auto status = lock.TryLock(0, 256);
        if (status == platform::FileLock::Status::Busy) return Report("busy", 1);
        if (status != platform::FileLock::Status::Locked) return Report("error", 2);
    }
    Report("locked", 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
    if (classicFd >= 0) ::close(classicFd);
    return 0;
}
