// Files and folders on POSIX. The attributes that Windows keeps are made up from the mode
// (folder, read-only for the owner) and the name (a leading dot hides); on a FAT file system
// the hidden and system bits are read from the file system itself.
#include "platform/Files.h"

#include "platform/FaultSeam.h"
#include "platform/internal/Posix.h"
#include "platform/internal/Shared.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#endif

namespace platform {

using namespace detail;

namespace {

bool OnFatFileSystem(const std::string& native) {
#ifdef __linux__
    struct statfs sfs;
    return ::statfs(native.c_str(), &sfs) == 0 && sfs.f_type == MSDOS_SUPER_MAGIC;
#else
    (void)native;
    return false;
#endif
}

// The hidden and system bits that a FAT file system keeps for an entry.
std::uint32_t FatAttributes(const std::string& native) {
#ifdef __linux__
    const int fd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    __u32 attrs = 0;
    const int rc = ::ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &attrs);
    ::close(fd);
    if (rc != 0)
        return 0;
    return attrs & (AttrHidden | AttrSystem);
#else
    (void)native;
    return 0;
#endif
}

std::optional<std::uint32_t> AttributesOf(const std::string& native, const std::string& name,
                                          bool onFat) {
    struct stat st;
    if (::stat(native.c_str(), &st) != 0 && ::lstat(native.c_str(), &st) != 0)
        return std::nullopt;
    std::uint32_t attrs = 0;
    if (S_ISDIR(st.st_mode))
        attrs |= AttrDirectory;
    else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))
        attrs |= AttrArchive;
    else
        attrs |= AttrSystem; // devices, pipes and sockets
    if (!(st.st_mode & S_IWUSR))
        attrs |= AttrReadOnly;
    if (name.size() > 1 && name[0] == '.' && name != "..")
        attrs |= AttrHidden;
    if (onFat)
        attrs |= FatAttributes(native);
    return attrs;
}

bool OwnerCanWrite(const struct stat& st) {
    return (st.st_mode & S_IWUSR) != 0;
}

} // namespace

std::vector<DirEntry> ListDirectory(const std::string& pattern) {
    std::vector<DirEntry> entries;
    const std::size_t cut = pattern.find_last_of("\\/");
    std::string folder;
    std::string mask;
    if (cut != std::string::npos) {
        folder = pattern.substr(0, cut);
        mask = pattern.substr(cut + 1);
    } else if (DriveLetter(pattern)) {
        folder = pattern.substr(0, 2);
        mask = pattern.substr(2);
    } else {
        folder.assign(1, '.');
        mask = pattern;
    }
    if (folder.empty()) // "\\*.*": the root of the file system
        folder.assign(1, '/');
    if (mask.empty())
        return entries;

    const std::string native = Resolve(folder).native;
    if (native.empty())
        return entries;
    DIR* dir = ::opendir(native.c_str());
    if (!dir)
        return entries;
    const bool onFat = OnFatFileSystem(native);

    // "." and ".." come first, as the folder's own entries; the rest in the file system's order.
    for (const char* self : {".", ".."}) {
        if (!PatternMatches(mask, self))
            continue;
        if (auto attrs = AttributesOf(Join(native, self), self, false))
            entries.push_back({self, *attrs & ~static_cast<std::uint32_t>(AttrHidden)});
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || !PatternMatches(mask, name))
            continue;
        if (auto attrs = AttributesOf(Join(native, name), name, onFat))
            entries.push_back({name, *attrs});
    }
    ::closedir(dir);
    return entries;
}

bool HasSubdirectory(const std::string& path) {
    const std::string native = Resolve(path).native;
    DIR* dir = native.empty() ? nullptr : ::opendir(native.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
#ifdef _DIRENT_HAVE_D_TYPE
        // The entry's type comes with the name; only file systems that don't give it, and
        // symbolic links (which count by what they point to), need a look-up.
        if (e->d_type == DT_DIR) {
            found = true;
            break;
        }
        if (e->d_type != DT_UNKNOWN && e->d_type != DT_LNK)
            continue;
#endif
        struct stat st;
        if (::stat(Join(native, name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return StatFollowing(Resolve(path).native, st) && S_ISREG(st.st_mode);
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
    struct stat st;
    if (!StatFollowing(Resolve(path).native, st) || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return StatFollowing(Resolve(path).native, st) && S_ISDIR(st.st_mode);
}

std::optional<std::uint32_t> GetFileAttributes(const std::string& path) {
    const Resolved r = Resolve(path);
    if (r.native.empty())
        return std::nullopt;
    return AttributesOf(r.native, r.name, OnFatFileSystem(r.native));
}

bool IsReadOnly(const std::string& path) {
    // The owner's write bit, not access(2): root may write anything, yet a file its owner
    // can't write is what the recorder's read-only flag becomes on these file systems.
    struct stat st;
    return StatFollowing(Resolve(path).native, st) && !OwnerCanWrite(st);
}

bool SetFileAttributesNormal(const std::string& path) {
    const std::string native = Resolve(path).native;
    struct stat st;
    if (!StatFollowing(native, st))
        return false;
    if (OwnerCanWrite(st))
        return true;
    return ::chmod(native.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool DeleteFile(const std::string& path) {
    const std::string native = Resolve(path).native;
    struct stat st;
    if (native.empty() || ::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    // A read-only file stays until its attributes are made normal, as on the recorder's drive
    // under Windows.
    if (!S_ISLNK(st.st_mode) && !OwnerCanWrite(st))
        return false;
    return ::unlink(native.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    if (InjectedFault(FileOp::Rename, to) != 0)
        return false;
    const std::string source = Resolve(from).native;
    const Resolved target = Resolve(to);
    const std::string askedName = LastComponent(to);
    struct stat sourceStat;
    if (source.empty() || target.native.empty() || askedName.empty() ||
        ::lstat(source.c_str(), &sourceStat) != 0)
        return false;

    // The new name is the one asked for; an existing target, whatever its letter case, goes.
    const std::string asked = Join(ParentOf(target.native), askedName);
    struct stat targetStat;
    const bool targetExists = ::lstat(target.native.c_str(), &targetStat) == 0;
    const bool sameEntry = targetExists && targetStat.st_dev == sourceStat.st_dev &&
                           targetStat.st_ino == sourceStat.st_ino;
    if (targetExists && !sameEntry) {
        if (S_ISDIR(targetStat.st_mode))
            return false;
        if (!S_ISLNK(targetStat.st_mode) && !OwnerCanWrite(targetStat))
            return false; // a read-only target is not replaced
    }
    if (::rename(source.c_str(), asked.c_str()) != 0)
        return false;
    if (targetExists && !sameEntry && target.native != asked)
        ::unlink(target.native.c_str());
    return true;
}

bool CreateDirectory(const std::string& path) {
    const std::string native = Resolve(path).native;
    return !native.empty() && ::mkdir(native.c_str(), 0777) == 0;
}

} // namespace platform
