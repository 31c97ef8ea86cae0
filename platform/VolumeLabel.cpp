#include "VolumeLabel.h"

#include <blkid/blkid.h>
#include <stdlib.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <climits>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace platform {
namespace {

// mountinfo writes blank, tab, newline and backslash in paths as "\ooo".
std::string DecodeOctal(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3' &&
            text[i + 2] >= '0' && text[i + 2] <= '7' && text[i + 3] >= '0' && text[i + 3] <= '7') {
            out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                     (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool ParseUnsigned(const std::string& text, unsigned& value) {
    if (text.empty() || text.size() > 9) return false;
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    value = v;
    return true;
}

// Whether `mountPoint` is `path` or a folder above it.
bool Holds(const std::string& mountPoint, const std::string& path) {
    if (mountPoint == "/") return !path.empty() && path[0] == '/';
    if (path.compare(0, mountPoint.size(), mountPoint) != 0) return false;
    return path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

// The resolved form of the path, or of its deepest existing folder.
std::string ResolveExisting(std::string path) {
    while (!path.empty()) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
        const std::size_t slash = path.find_last_of('/');
        if (slash == std::string::npos) return std::string();
        if (slash == 0) return path.size() > 1 ? ResolveExisting("/") : std::string();
        path.resize(slash);
    }
    return std::string();
}

struct ProbeFree {
    void operator()(blkid_probe probe) const { blkid_free_probe(probe); }
};

}  // namespace

std::optional<MountEntry> ParseMountInfoLine(const std::string& line) {
    // id parent major:minor root mount-point options [optional...] - type source super
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string word;
    while (in >> word) words.push_back(word);
    if (words.size() < 5) return std::nullopt;
    std::size_t dash = 6;
    while (dash < words.size() && words[dash] != "-") ++dash;
    if (dash + 2 >= words.size()) return std::nullopt;

    MountEntry entry;
    const std::string& device = words[2];
    const std::size_t colon = device.find(':');
    if (colon == std::string::npos || !ParseUnsigned(device.substr(0, colon), entry.major) ||
        !ParseUnsigned(device.substr(colon + 1), entry.minor)) {
        return std::nullopt;
    }
    entry.mountPoint = DecodeOctal(words[4]);
    entry.source = DecodeOctal(words[dash + 2]);
    if (entry.mountPoint.empty() || entry.mountPoint[0] != '/') return std::nullopt;
    return entry;
}

std::optional<MountEntry> FindMount(const std::string& mountInfo, const std::string& path) {
    std::optional<MountEntry> best;
    std::istringstream in(mountInfo);
    std::string line;
    while (std::getline(in, line)) {
        std::optional<MountEntry> entry = ParseMountInfoLine(line);
        if (!entry || !Holds(entry->mountPoint, path)) continue;
        // Later lines are mounted over earlier ones on the same point.
        if (!best || entry->mountPoint.size() >= best->mountPoint.size()) best = std::move(entry);
    }
    return best;
}

std::string ProbeVolumeLabel(const std::string& device) {
    if (device.empty()) return std::string();
    std::unique_ptr<blkid_struct_probe, ProbeFree> probe(
        blkid_new_probe_from_filename(device.c_str()));
    if (!probe) return std::string();
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL);
    if (blkid_do_safeprobe(probe.get()) != 0) return std::string();
    const char* label = nullptr;
    std::size_t length = 0;
    if (blkid_probe_lookup_value(probe.get(), "LABEL", &label, &length) != 0 || label == nullptr)
        return std::string();
    std::string text(label);  // the value is zero-terminated
    if (text.size() > kMaxVolumeLabel) text.resize(kMaxVolumeLabel);
    return text;
}

std::string VolumeLabelOf(const std::string& path) {
    if (path.empty() || path[0] != '/' || (path.size() > 1 && path[1] == '/')) {
        return std::string();  // drive, relative or network path
    }
    const std::string resolved = ResolveExisting(path);
    if (resolved.empty()) return std::string();
    std::ifstream file("/proc/self/mountinfo");
    if (!file) return std::string();
    std::ostringstream text;
    text << file.rdbuf();
    const std::optional<MountEntry> mount = FindMount(text.str(), resolved);
    if (!mount || mount->major == 0) return std::string();  // no block device

    char* name = blkid_devno_to_devname(makedev(mount->major, mount->minor));
    if (name == nullptr) return std::string();
    std::string device(name);
    ::free(name);
    return ProbeVolumeLabel(device);
}

}  // namespace platform
