#include "Environment.h"

#include <cstdlib>

namespace platform {

bool SetEnv(const char* name, const std::string& value) {
    return name != nullptr && ::setenv(name, value.c_str(), 1) == 0;
}

bool UnsetEnv(const char* name) {
    return name != nullptr && ::unsetenv(name) == 0;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_previous = std::string(old);
    SetEnv(name, value);
}

ScopedEnv::~ScopedEnv() {
    if (m_previous) {
        SetEnv(m_name.c_str(), *m_previous);
    } else {
        UnsetEnv(m_name.c_str());
    }
}

}  // namespace platform
