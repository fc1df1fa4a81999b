#include "platform/Mounts.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace platform::mounts {

namespace {

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

std::string FirstLineOf(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

} // namespace

std::string UnescapeMountField(const std::string& field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) &&
            IsOctal(field[i + 2]) && IsOctal(field[i + 3])) {
            int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out.push_back(static_cast<char>(value & 0xff));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

bool ParseMountInfoLine(const std::string& line, MountEntry& entry) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string f; in >> f;)
        fields.push_back(f);
    // mount ID, parent ID, major:minor, root, mount point, options, optional fields..., "-",
    // fstype, source, super options.
    if (fields.size() < 9)
        return false;
    std::size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-")
        ++dash;
    if (dash + 2 >= fields.size())
        return false;

    const std::string& dev = fields[2];
    const std::size_t colon = dev.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == dev.size() ||
        dev.find_first_not_of("0123456789:") != std::string::npos)
        return false;
    try {
        entry.major = static_cast<unsigned>(std::stoul(dev.substr(0, colon)));
        entry.minor = static_cast<unsigned>(std::stoul(dev.substr(colon + 1)));
    } catch (const std::exception&) {
        return false;
    }
    entry.root = UnescapeMountField(fields[3]);
    entry.mountPoint = UnescapeMountField(fields[4]);
    entry.fsType = fields[dash + 1];
    entry.source = UnescapeMountField(fields[dash + 2]);
    return true;
}

std::vector<MountEntry> ReadMountInfo(const std::string& mountInfoPath) {
    std::vector<MountEntry> entries;
    std::ifstream in(mountInfoPath);
    for (std::string line; std::getline(in, line);) {
        MountEntry e;
        if (ParseMountInfoLine(line, e))
            entries.push_back(std::move(e));
    }
    return entries;
}

bool IsRemovableDevice(unsigned major, unsigned minor, const std::string& source,
                       const std::string& sysfsRoot) {
    const fs::path sysfs(sysfsRoot);
    fs::path deviceLink;
    if (major != 0) {
        deviceLink =
            sysfs / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor));
    } else if (source.rfind("/dev/", 0) == 0) {
        // Some file systems (btrfs among them) report anonymous device numbers; the source
        // still names the block device.
        deviceLink = sysfs / "class" / "block" / fs::path(source).filename();
    } else {
        return false; // proc, tmpfs and other file systems without a device
    }

    std::error_code ec;
    const fs::path device = fs::canonical(deviceLink, ec);
    if (ec)
        return false;

    // The bus shows in the device's place in the tree; look only below the sysfs root so that
    // the name of the folder holding it plays no part.
    std::string inTree = device.generic_string();
    const fs::path root = fs::canonical(sysfs, ec);
    if (!ec) {
        const std::string rootText = root.generic_string();
        if (inTree.rfind(rootText, 0) == 0)
            inTree.erase(0, rootText.size());
    }
    if (inTree.find("/usb") != std::string::npos || inTree.find("/mmc") != std::string::npos)
        return true;

    // A partition carries a "partition" file; the removable flag belongs to its whole disk.
    fs::path disk = device;
    if (fs::exists(device / "partition", ec))
        disk = device.parent_path();
    const std::string flag = FirstLineOf(disk / "removable");
    return !flag.empty() && flag[0] == '1';
}

std::vector<std::string> RemovableMountPoints(const std::string& mountInfoPath,
                                              const std::string& sysfsRoot) {
    std::vector<std::string> points;
    std::set<std::string> seen;
    for (const MountEntry& e : ReadMountInfo(mountInfoPath)) {
        if (e.mountPoint == "/" || e.root != "/")
            continue;
        const std::string key =
            e.major != 0 ? std::to_string(e.major) + ":" + std::to_string(e.minor) : e.source;
        if (seen.count(key))
            continue;
        if (!IsRemovableDevice(e.major, e.minor, e.source, sysfsRoot))
            continue;
        seen.insert(key);
        points.push_back(e.mountPoint);
    }
    return points;
}

} // namespace platform::mounts
