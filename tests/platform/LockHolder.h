#pragma once
// Runs tests/platform/lock_holder as a child process and reads its verdict.
// The child is killed and reaped when the object goes away.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

#ifndef ZOR_LOCK_HOLDER
#error "ZOR_LOCK_HOLDER must name the lock_holder executable"
#endif

class LockHolder {
  public:
    // Starts the child on `path`, holding for holdMs, and waits for its first
    // word: "locked", "busy" or "error" (empty if the child could not run).
    LockHolder(const std::string& path, long holdMs, bool classic = false) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        std::vector<std::string> args = {ZOR_LOCK_HOLDER, path, std::to_string(holdMs)};
        if (classic) args.push_back("classic");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, ZOR_LOCK_HOLDER, &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') m_word += c;
        ::close(fds[0]);
    }
    ~LockHolder() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            Wait();
        }
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    const std::string& Word() const { return m_word; }
    // Waits for the child to end; its exit status or -1.
    int Wait() {
        if (m_pid <= 0) return -1;
        int status = 0;
        pid_t pid = m_pid;
        m_pid = -1;
        if (::waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t m_pid = -1;
    std::string m_word;
};
