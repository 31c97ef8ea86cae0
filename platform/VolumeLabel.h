#pragma once
// The label of the volume that holds a path.
//
// A rooted path ("/srv/peldata/raw/") lies on the mount whose mount point is
// the longest leading part of the path (the last such mount when several
// are stacked on one point); the label is read from that mount's block
// device with libblkid. A path that does not exist yet is taken from its
// deepest existing folder. Windows drive paths ("C:/peldata/raw/") name no
// volume here and give an empty label, as do relative and network paths,
// mounts without a block device (tmpfs, overlay, ...) and devices that
// cannot be read.

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

// Longest label handed out; a longer one is cut.
constexpr std::size_t kMaxVolumeLabel = 255;

// One line of /proc/self/mountinfo, as far as the label needs it.
struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string mountPoint;  // octal escapes ("\040") decoded
    std::string source;      // the mount source ("/dev/vda", "tmpfs", ...)
};

// Parses one mountinfo line; empty for a malformed one.
std::optional<MountEntry> ParseMountInfoLine(const std::string& line);

// The mount of `mountInfo` (the text of a mountinfo file) that holds the
// absolute, already resolved `path`; empty when none does.
std::optional<MountEntry> FindMount(const std::string& mountInfo, const std::string& path);

// The label of a file system image or block device, read with libblkid;
// empty when there is none or the device cannot be read.
std::string ProbeVolumeLabel(const std::string& device);

// The label of the volume holding `path`; empty when none is known.
std::string VolumeLabelOf(const std::string& path);

}  // namespace platform
