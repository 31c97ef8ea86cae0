#pragma once
// Shared pieces of the process layer's tests: a private folder with copies
// of the probe child, reading what the probe reported, and waiting for a
// condition with a deadline.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "ProcessTable.h"

#ifndef ZOR_PROCESS_PROBE
#error "ZOR_PROCESS_PROBE must name the process_probe executable"
#endif

namespace process_test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Polls `condition` until it holds or `limit` has passed; true if it held.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// The NUL-ended entries of a file.
inline std::vector<std::string> ReadEntries(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\0') {
            entries.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return entries;
}

// The kernel's state letter of a process; '\0' when it is gone.
inline char StateOf(int pid) {
    platform::proc::Stat stat;
    return platform::proc::ReadStat(pid, &stat) ? stat.state : '\0';
}

// A private folder under /tmp whose name holds a blank, as the suite's data
// folder does; removed with everything in it.
class ProbeFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zor_process_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_root = pattern;
        m_dir = m_root / "Velmor Dezidizu";
        fs::create_directory(m_dir);
        m_probe = CopyProbe("probe");
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    // A copy of the probe in the folder under `name`.
    fs::path CopyProbe(const std::string& name) {
        const fs::path target = m_dir / name;
        fs::copy_file(ProbeBinary(), target, fs::copy_options::overwrite_existing);
        fs::permissions(target, fs::perms::owner_all);
        return target;
    }
    static fs::path ProbeBinary() { return ZOR_PROCESS_PROBE; }

    // A file with `text`, with or without the execute bit.
    fs::path WriteFile(const std::string& name, const std::string& text, bool executable) {
        const fs::path target = m_dir / name;
        std::ofstream(target, std::ios::binary) << text;
        fs::permissions(target, executable ? fs::perms::owner_all
                                           : (fs::perms::owner_read | fs::perms::owner_write));
        return target;
    }

    // What the probe started as `pid` reported.
    std::vector<std::string> ArgsOf(int pid) const {
        return ReadEntries(m_dir / ("report." + std::to_string(pid) + ".args"));
    }
    std::vector<std::string> EnvOf(int pid) const {
        return ReadEntries(m_dir / ("report." + std::to_string(pid) + ".env"));
    }

    // The probe's path quoted for a command line.
    std::string QuotedProbe() const { return "\"" + m_probe.string() + "\""; }

    fs::path m_root;
    fs::path m_dir;
    fs::path m_probe;
};

}  // namespace process_test
