#include "SuspendMode.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<int> g_mode{kSuspendNone};
}

void SetSuspendMode(int mode) {
    g_mode.store(mode);
}

int GetSuspendMode() {
    return g_mode.load();
}

}  // namespace platform
