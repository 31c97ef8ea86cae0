#pragma once
// The well-known UDP ports of the suite's processes.

#include <cstdint>
#include <string_view>

// The port of a process socket name ("ZOR_CMD" is 4001, ...). Names match
// exactly, letter case and length included; any other name gives 0.
uint16_t PortOf(std::string_view name);

// The port the operator GUI listens on; it has no entry in the table.
constexpr uint16_t kGuiPort = 4002;
