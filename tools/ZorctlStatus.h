#pragma once
// What `zorctl status` shows: the process-id list ZOR and its handlers keep
// in the suite database, each id checked against the running processes.

#include <optional>
#include <string>
#include <vector>

namespace zorctl {

struct RegisteredProcess {
    std::string name;
    int pid = 0;
    bool alive = false;
};

// Logs in to the data source and reads every row of the process-id list,
// ordered by name, each with the state of its process. Empty optional, with
// `error` set, when the data source cannot be reached or read.
std::optional<std::vector<RegisteredProcess>> ReadRegisteredProcesses(const std::string& dsn,
                                                                      std::string& error);

// The rows as a table: NAME, PID, STATE ("alive" or "gone").
std::string FormatStatus(const std::vector<RegisteredProcess>& rows);

}  // namespace zorctl
