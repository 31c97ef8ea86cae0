#pragma once
// What the simulated peers share: their journal and their argument words.

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace peer {

// Bytes made visible on one line: "\n", "\r", "\t", "\\" as those escapes,
// printable ASCII as is, every other byte as "\xHH" (lower-case hex).
std::string Escape(const std::string& bytes);
// The reverse, for texts given on the command line ("\n", "\r", "\t",
// "\\", "\xHH"); anything else stands for itself.
std::string Unescape(const std::string& text);

// Monotonic time as "seconds.microseconds" (the same clock in every process
// of the host, so journals of several peers can be merged by stamp).
std::string Stamp();

// Appends lines "<stamp> <text>", flushed one by one.
class Journal {
  public:
    // Opens `path` for appending; false when that fails.
    bool Open(const std::string& path);
    void Write(const std::string& text);

  private:
    std::ofstream m_out;
};

// The file name of a path ("a/b/PELMainApp.exe" -> "PELMainApp.exe").
std::string BaseName(const std::string& path);

// A decimal port 1..65535, or 0.
uint16_t ParsePort(const std::string& text);

}  // namespace peer
