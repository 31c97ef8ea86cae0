#include "Paths.h"

#include <cstdlib>

namespace platform {
namespace {

std::string WithSlash(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

}  // namespace

std::string GetEnv(const char* name) {
    const char* value = name != nullptr ? std::getenv(name) : nullptr;
    return value != nullptr ? std::string(value) : std::string();
}

std::string TempFolder() {
    std::string tmp = GetEnv("TMPDIR");
    return WithSlash(tmp.empty() ? "/tmp" : tmp);
}

std::string ProgramDataFolder() {
    std::string folder = GetEnv("ProgramData");
    if (folder.empty()) folder = "/var/lib";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

bool IsAbsolutePath(const std::string& path) {
    return (!path.empty() && path[0] == '/') || path.find(':') != std::string::npos;
}

std::string DataFolder() {
    return ProgramDataFolder() + "/Velmor Dezidizu/zpel/";
}

}  // namespace platform
