#include "platform/Mounts.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace platform::mounts;

namespace {

TEST(MountFields, OctalEscapesAreUndone) {
    const struct {
        const char* field;
        const char* text;
    } cases[] = {
        {"/media/My\\040Card", "/media/My Card"},
        {"/a\\011b\\012c", "/a\tb\nc"},
        {"/back\\134slash", "/back\\slash"},
        {"/short\\04", "/short\\04"},         // too few digits: kept
        {"/not\\089octal", "/not\\089octal"}, // 8 is no octal digit
        {"\\040", " "},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UnescapeMountField(c.field), c.text) << c.field;
}

TEST(MountFields, LinesWithAndWithoutOptionalFields) {
    MountEntry e;
    ASSERT_TRUE(ParseMountInfoLine(
        "36 35 8:17 / /media/My\\040Card rw,nosuid shared:1 master:2 - vfat /dev/sdb1 rw", e));
    EXPECT_EQ(e.major, 8u);
    EXPECT_EQ(e.minor, 17u);
    EXPECT_EQ(e.root, "/");
    EXPECT_EQ(e.mountPoint, "/media/My Card");
    EXPECT_EQ(e.fsType, "vfat");
    EXPECT_EQ(e.source, "/dev/sdb1");

    ASSERT_TRUE(ParseMountInfoLine("22 27 0:21 / /proc rw,relatime - proc proc rw", e));
    EXPECT_EQ(e.major, 0u);
    EXPECT_EQ(e.fsType, "proc");

    for (const char* bad : {"", "22 27 0:21 / /proc rw,relatime proc proc rw",
                            "22 27 0:21 / /proc rw - proc", "22 27 x:y / /proc rw - proc proc rw"})
        EXPECT_FALSE(ParseMountInfoLine(bad, e)) << bad;
}

// A sysfs tree in a temporary folder: block devices under devices/, reached through the
// dev/block/MAJ:MIN and class/block/NAME links as on a real system.
class FakeSystem : public ::testing::Test {
protected:
    // Mount tables and sysfs are Linux's; the tree's names hold ':' and its links need
    // symbolic links, which Windows folders don't give.
    void SetUp() override {
#ifndef __linux__
        GTEST_SKIP() << "Linux mounts only";
#endif
    }
    fs::path Sys() const {
        return dir_ / "sys";
    }

    // A whole disk at `devicePath` (below devices/) with its removable flag.
    fs::path Disk(const std::string& devicePath, const std::string& name, const char* dev,
                  bool removable) {
        fs::path disk = Sys() / "devices" / devicePath / "block" / name;
        fs::create_directories(disk);
        testsupport::WriteFile(disk / "removable", removable ? "1\n" : "0\n");
        Link(disk, name, dev);
        return disk;
    }
    void Partition(const fs::path& disk, const std::string& name, const char* dev) {
        fs::create_directories(disk / name);
        testsupport::WriteFile(disk / name / "partition", "1\n");
        Link(disk / name, name, dev);
    }
    void Link(const fs::path& target, const std::string& name, const char* dev) {
        fs::create_directories(Sys() / "dev" / "block");
        fs::create_directories(Sys() / "class" / "block");
        fs::create_directory_symlink(target, Sys() / "dev" / "block" / dev);
        fs::create_directory_symlink(target, Sys() / "class" / "block" / name);
    }

    testsupport::TempDir dir_;
};

TEST_F(FakeSystem, FindsFileSystemsOnRemovableMediaInMountOrder) {
    const fs::path sda =
        Disk("pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", "sda", "8:0", false);
    Partition(sda, "sda1", "8:1");
    Partition(sda, "sda2", "8:2");
    const fs::path sdb = Disk("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/host6/target6:0:0/6:0:0:0",
                              "sdb", "8:16", false); // a USB stick that says it is fixed
    Partition(sdb, "sdb1", "8:17");
    Disk("pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0", "sdc", "8:32", true);
    const fs::path sdd =
        Disk("pci0000:00/0000:00:1f.2/ata4/host3/target3:0:0/3:0:0:0", "sdd", "8:48", true);
    Partition(sdd, "sdd1", "8:49");
    const fs::path mmc =
        Disk("platform/soc/fe340000.mmc/mmc_host/mmc0/mmc0:aaaa", "mmcblk0", "179:0", false);
    Partition(mmc, "mmcblk0p1", "179:1");
    const fs::path sde =
        Disk("pci0000:00/0000:00:1f.2/ata5/host4/target4:0:0/4:0:0:0", "sde", "8:64", true);
    Partition(sde, "sde1", "8:65");
    Disk("virtual", "loop0", "7:0", false);

    const std::string mountinfo = (dir_ / "mountinfo").string();
    testsupport::WriteFile(
        mountinfo,
        "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
        "27 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "28 27 0:25 / /tmp rw - tmpfs tmpfs rw\n"
        "29 27 8:2 / /home rw - ext4 /dev/sda2 rw\n"
        "30 27 7:0 / /snap/core rw - squashfs /dev/loop0 ro\n"
        "31 27 8:17 / /media/stick rw shared:5 - vfat /dev/sdb1 rw\n"
        "32 27 8:49 / /media/My\\040Card rw - exfat /dev/sdd1 rw\n"
        "33 27 8:32 /Song /srv/song rw - vfat /dev/sdc rw\n" // part of a disk only
        "34 27 8:32 / /media/reader rw - vfat /dev/sdc rw\n"
        "35 27 8:32 / /media/reader-again rw - vfat /dev/sdc rw\n" // same device again
        "36 27 179:1 / /media/sd rw - vfat /dev/mmcblk0p1 rw\n"
        "37 27 0:48 / /media/btrfs rw - btrfs /dev/sde1 rw\n" // anonymous device numbers
        "38 27 0:49 / /media/gone rw - vfat /dev/sdz1 rw\n"
        "garbage line\n");

    EXPECT_EQ(RemovableMountPoints(mountinfo, Sys().string()),
              (std::vector<std::string>{"/media/stick", "/media/My Card", "/media/reader",
                                        "/media/sd", "/media/btrfs"}));
    EXPECT_TRUE(IsRemovableDevice(8, 49, "/dev/sdd1", Sys().string()));
    EXPECT_FALSE(IsRemovableDevice(8, 2, "/dev/sda2", Sys().string()));
    EXPECT_FALSE(IsRemovableDevice(8, 99, "/dev/sdq", Sys().string()));
}

TEST_F(FakeSystem, RemovableSystemRootIsNotADrive) {
    Disk("pci0000:00/0000:00:14.0/usb2/2-1", "sda", "8:0", true);
    const std::string mountinfo = (dir_ / "mountinfo").string();
    testsupport::WriteFile(mountinfo, "27 1 8:0 / / rw - ext4 /dev/sda rw\n");
    EXPECT_TRUE(RemovableMountPoints(mountinfo, Sys().string()).empty());
}

TEST_F(FakeSystem, MissingSourcesGiveNothing) {
    EXPECT_TRUE(RemovableMountPoints((dir_ / "none").string(), Sys().string()).empty());
    EXPECT_TRUE(ReadMountInfo((dir_ / "none").string()).empty());
}

} // namespace
