#pragma once
// Changing the process environment (tests and start-up point the ODBC
// driver manager and the temporary folder at private files this way).
// Not thread-safe against concurrent readers of the environment.

#include <optional>
#include <string>

namespace platform {

// Sets (overwrites) an environment variable; false on failure.
bool SetEnv(const char* name, const std::string& value);
// Removes an environment variable; false on failure.
bool UnsetEnv(const char* name);

// Sets a variable for the lifetime of the object and restores the previous
// value (or its absence) afterwards.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

}  // namespace platform
