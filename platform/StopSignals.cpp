#include "StopSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace platform {
namespace {

int g_pipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already says "stop"; the result does not matter.
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void Install() {
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int StopSignalDescriptor() {
    static std::once_flag once;
    std::call_once(once, Install);
    return g_pipe[0];
}

void DrainStopSignals() {
    if (g_pipe[0] < 0) return;
    char buffer[64];
    while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
    }
}

}  // namespace platform
