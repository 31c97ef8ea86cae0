#pragma once
// Reading what runs and what peers wrote: the processes of an image name
// with their command lines (from /proc), and whole files.

#include <sys/types.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace zortest {

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

// The running processes with this image name (the file name of argument
// 0): process id and the arguments joined with blanks.
inline std::vector<std::pair<pid_t, std::string>> Processes(const std::string& image) {
    std::vector<std::pair<pid_t, std::string>> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string raw = ReadFile(entry.path() / "cmdline");
        if (raw.empty()) continue;
        if (raw.back() == '\0') raw.pop_back();
        std::vector<std::string> words;
        std::stringstream split(raw);
        for (std::string word; std::getline(split, word, '\0');) words.push_back(word);
        if (words.empty() || std::filesystem::path(words[0]).filename() != image) continue;
        std::string joined;
        for (const auto& w : words) joined += (joined.empty() ? "" : " ") + w;
        found.emplace_back(static_cast<pid_t>(std::stol(pid)), joined);
    }
    return found;
}

// The command lines of the running processes of an image, sorted.
inline std::vector<std::string> CommandLines(const std::string& image) {
    std::vector<std::string> lines;
    for (const auto& [pid, line] : Processes(image)) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace zortest
