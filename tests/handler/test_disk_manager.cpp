// The disk manager and the volume-label seam: which mount holds a path
// (from mountinfo texts), labels read from real file-system images with
// libblkid, and the paths that name no volume.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "DiskManager.h"
#include "VolumeLabel.h"

namespace {

class CTestOwner;
using DiskManager = CDiskManager<CTestOwner>;

const char kMountInfo[] =
    "22 28 0:21 / /proc rw,relatime - proc proc rw\n"
    "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
    "40 28 8:17 / /srv/peldata rw,relatime shared:5 - ext4 /dev/sdb1 rw\n"
    "41 28 8:33 / /srv/pel rw,relatime - ext4 /dev/sdc1 rw\n"
    "42 40 0:50 / /srv/peldata/tmp rw - tmpfs tmpfs rw\n"
    "43 40 8:49 / /srv/peldata/tmp rw - ext4 /dev/sdd1 rw\n"
    "44 28 8:65 / /mnt/raw\\040disk rw - vfat /dev/sde1 rw\n"
    "garbage line\n"
    "45 28 x:1 / /bad rw - ext4 /dev/x rw\n";

TEST(VolumeLabel, MountHoldingAPath) {
    struct Case {
        const char* path;
        const char* mountPoint;  // null: none
        const char* source;
    } cases[] = {
        {"/srv/peldata/raw/x", "/srv/peldata", "/dev/sdb1"},
        {"/srv/peldata", "/srv/peldata", "/dev/sdb1"},
        {"/srv/peldatax/raw", "/", "/dev/vda"},  // a longer name is not a folder below
        {"/srv/pel/raw", "/srv/pel", "/dev/sdc1"},
        {"/srv/peldata/tmp/a", "/srv/peldata/tmp", "/dev/sdd1"},  // the later of two stacked
        {"/mnt/raw disk/x", "/mnt/raw disk", "/dev/sde1"},        // octal escape decoded
        {"/bad/x", "/", "/dev/vda"},                              // malformed line skipped
        {"/", "/", "/dev/vda"},
        {"relative/path", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const auto mount = platform::FindMount(kMountInfo, c.path);
        if (c.mountPoint == nullptr) {
            EXPECT_FALSE(mount.has_value());
            continue;
        }
        ASSERT_TRUE(mount.has_value());
        EXPECT_EQ(mount->mountPoint, c.mountPoint);
        EXPECT_EQ(mount->source, c.source);
    }
    EXPECT_FALSE(platform::FindMount("", "/x").has_value());
}

TEST(VolumeLabel, MountInfoLines) {
    auto entry = platform::ParseMountInfoLine(
        "43 40 8:49 / /srv/a\\011b rw shared:1 master:2 - ext4 /dev/sd\\040d1 rw");
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->major, 8u);
    EXPECT_EQ(entry->minor, 49u);
    EXPECT_EQ(entry->mountPoint, "/srv/a\tb");
    EXPECT_EQ(entry->source, "/dev/sd d1");
    for (const char* bad : {"", "1 2 3:4 / /x", "1 2 3:4 / /x rw - ext4", "1 2 34 / /x rw - e s o",
                            "1 2 99999999999:1 / /x rw - e s o", "1 2 3:4 / rel rw - e s o"}) {
        EXPECT_FALSE(platform::ParseMountInfoLine(bad).has_value()) << bad;
    }
    // A backslash that starts no octal escape stays as it is.
    entry = platform::ParseMountInfoLine("1 2 3:4 / /x\\ rw - e s\\9 o");
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->mountPoint, "/x\\");
    EXPECT_EQ(entry->source, "s\\9");
}

// A fresh ext4 image with the given label, made with mke2fs; empty when the
// tool is not there.
std::string MakeImage(const std::string& label) {
    char folder[] = "/tmp/zor_label_XXXXXX";
    if (::mkdtemp(folder) == nullptr) return std::string();
    const std::string image = std::string(folder) + "/disk.img";
    {
        std::ofstream out(image, std::ios::binary);
        out.seekp(4 * 1024 * 1024 - 1);
        out.put('\0');
    }
    std::string command = "mkfs.ext4 -q -F ";
    if (!label.empty()) command += "-L '" + label + "' ";
    command += image + " >/dev/null 2>&1";
    if (std::system(("PATH=$PATH:/sbin:/usr/sbin " + command).c_str()) != 0) return std::string();
    return image;
}

TEST(VolumeLabel, LabelOfAFileSystemImage) {
    const std::string labelled = MakeImage("PELRAW 1");
    const std::string unlabelled = MakeImage("");
    if (labelled.empty() || unlabelled.empty()) GTEST_SKIP() << "mkfs.ext4 not available";
    EXPECT_EQ(platform::ProbeVolumeLabel(labelled), "PELRAW 1");
    EXPECT_EQ(platform::ProbeVolumeLabel(unlabelled), "");
    EXPECT_EQ(platform::ProbeVolumeLabel("/nonexistent/device"), "");
    EXPECT_EQ(platform::ProbeVolumeLabel(""), "");
    // Not a file system at all.
    const std::string junk = labelled + ".junk";
    std::ofstream(junk) << "no superblock here";
    EXPECT_EQ(platform::ProbeVolumeLabel(junk), "");
    for (const std::string& f : {labelled, unlabelled, junk}) std::remove(f.c_str());
}

// What libblkid says about the device of the mount holding `path`; the
// disk manager must say the same.
std::string ExpectedLabel(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || major(st.st_dev) == 0) return std::string();
    std::ifstream in("/proc/self/mountinfo");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto mount = platform::FindMount(text, path);
    if (!mount || mount->major != major(st.st_dev) || mount->minor != minor(st.st_dev))
        return std::string();
    return platform::ProbeVolumeLabel(mount->source);
}

TEST(DiskManager, PathsAndMounts) {
    const DiskManager disks;
    // No volume: relative, network and drive paths.
    for (const char* path : {"", "peldata/raw/", "//server/share/raw", "\\\\server\\raw",
                             "C:/peldata/raw/", "D:\\raw\\", "c:"}) {
        EXPECT_EQ(disks.GetVolumeLabel(path), "") << path;
    }
    // Real mounts: the root and the folder of this test (tmpfs or a disk),
    // and a path that does not exist yet below it.
    const std::string tmp = ::testing::TempDir();
    for (const std::string& path : {std::string("/"), tmp, tmp + "/not/yet/made/"}) {
        SCOPED_TRACE(path);
        const std::string label = disks.GetVolumeLabel(path);
        EXPECT_LE(label.size(), platform::kMaxVolumeLabel);
        EXPECT_EQ(label, ExpectedLabel(path.find("not/yet") != std::string::npos ? tmp : path));
    }
}

}  // namespace
