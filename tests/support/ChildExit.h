#pragma once
// Waiting for a child process of a test, with a time limit.

#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

namespace test_support {

// Reaps the child `pid` once it has ended: its exit status (128 + the signal
// number when a signal ended it), and `pid` is set to -1. -1 while it still
// runs after `ms` milliseconds.
inline int WaitChildExit(pid_t& pid, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < deadline);
    return -1;
}

}  // namespace test_support
