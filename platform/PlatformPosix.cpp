// The platform layer on POSIX systems. Drive letters come from a volume table: "C:" is the
// system root, removable media found in the mount table take letters from "D:" on, and folders
// mapped with MapDrive stand in for cards. Names are looked up ignoring ASCII letter case.
#include "platform/Platform.h"

#include "platform/Mounts.h"
#include "platform/PlatformCommon.inl"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>

#include <dirent.h>
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#ifdef __linux__
#include <atomic>
#include <linux/io_uring.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#endif

namespace fs = std::filesystem;

namespace platform {

namespace {

struct Volume {
    std::string root; // native folder, no trailing slash except for "/"
    DriveType type;
};
using VolumeTable = std::map<char, Volume>;

std::string TrimTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

// The system's volumes: "C:" and the removable media mounted now.
VolumeTable ScanVolumes() {
    VolumeTable t;
    t['C'] = {"/", DriveType::Fixed};
    char next = 'D';
    for (const std::string& point : mounts::RemovableMountPoints("/proc/self/mountinfo", "/sys")) {
        if (next > 'Z')
            break;
        t[next++] = {point, DriveType::Removable};
    }
    return t;
}

// The volumes as last scanned (first use, then RescanVolumes); guarded by MappingMutex.
VolumeTable& ScannedTable() {
    static VolumeTable table = ScanVolumes();
    return table;
}

// The scanned volumes with the mapped folders laid over them.
VolumeTable Volumes() {
    std::lock_guard<std::mutex> lock(MappingMutex());
    VolumeTable t = ScannedTable();
    for (const auto& [letter, root] : Mappings())
        t[letter] = {root, DriveType::Removable};
    return t;
}

std::optional<Volume> FindVolume(char letter) {
    const VolumeTable t = Volumes();
    auto it = t.find(letter);
    if (it == t.end())
        return std::nullopt;
    return it->second;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

std::vector<std::string> SplitComponents(const std::string& text) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        if (IsSeparator(c)) {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

std::string Join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

bool EntryExists(const std::string& native) {
    struct stat st;
    return ::lstat(native.c_str(), &st) == 0;
}

// The first entry of `folder` whose name equals `name` ignoring ASCII case.
std::optional<std::string> FindIgnoringCase(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return std::nullopt;
    std::optional<std::string> found;
    while (const dirent* e = ::readdir(dir)) {
        if (EqualsIgnoringCase(e->d_name, name)) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

struct Resolved {
    std::string native; // empty when the drive is unknown
    std::string name;   // last component as resolved; empty for a drive or file system root
};

// Turns a drive-letter path into a native one. Paths without a drive letter are taken as
// native paths (absolute, or relative to the working folder).
Resolved Resolve(const std::string& path) {
    std::string current;
    std::string rest;
    if (auto letter = DriveLetter(path)) {
        auto volume = FindVolume(*letter);
        if (!volume)
            return {};
        current = volume->root;
        rest = path.substr(2);
    } else if (!path.empty() && IsSeparator(path[0])) {
        current = "/";
        rest = path;
    } else {
        std::error_code ec;
        current = fs::current_path(ec).string();
        if (ec)
            return {};
        rest = path;
    }

    std::vector<std::string> parts;
    for (std::string& p : SplitComponents(rest)) {
        if (p == ".")
            continue;
        if (p == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(std::move(p));
    }

    bool resolving = true;
    std::string name;
    for (const std::string& part : parts) {
        std::string candidate = Join(current, part);
        name = part;
        if (resolving && !EntryExists(candidate)) {
            if (auto match = FindIgnoringCase(current, part)) {
                candidate = Join(current, *match);
                name = *match;
            } else {
                // Nothing below a missing entry can exist: keep the rest as written.
                resolving = false;
            }
        }
        current = std::move(candidate);
    }
    return {current, name};
}

bool StatFollowing(const std::string& native, struct stat& st) {
    return !native.empty() && ::stat(native.c_str(), &st) == 0;
}

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

std::string LastComponent(const std::string& path) {
    auto parts = SplitComponents(path.size() >= 2 && DriveLetter(path) ? path.substr(2) : path);
    return parts.empty() ? std::string() : parts.back();
}

std::string ParentOf(const std::string& native) {
    const std::size_t slash = native.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return native.substr(0, slash);
}

bool OwnerCanWrite(const struct stat& st) {
    return (st.st_mode & S_IWUSR) != 0;
}

} // namespace

// --- Volumes -------------------------------------------------------------------------------

std::vector<std::string> LogicalDriveStrings() {
    std::vector<std::string> roots;
    for (const auto& [letter, volume] : Volumes())
        roots.push_back(std::string{letter, ':', '\\'});
    return roots;
}

void RescanVolumes() {
    VolumeTable fresh = ScanVolumes();
    std::lock_guard<std::mutex> lock(MappingMutex());
    ScannedTable() = std::move(fresh);
}

DriveType GetDriveType(const std::string& rootPath) {
    auto letter = DriveLetter(rootPath);
    if (!letter)
        return DriveType::NoRootDir;
    auto volume = FindVolume(*letter);
    return volume ? volume->type : DriveType::NoRootDir;
}

std::optional<std::uint64_t> FreeBytesAvailable(const std::string& path) {
    const std::string native = Resolve(path).native;
    struct statvfs sv;
    if (native.empty()) {
        errno = ENOENT;
        return std::nullopt;
    }
    if (::statvfs(native.c_str(), &sv) != 0)
        return std::nullopt;
    // A file system that reports no blocks at all (some FUSE file systems) does not know its
    // free space either: its 0 free blocks mean nothing. errno 0 tells the caller so.
    if (sv.f_blocks == 0) {
        errno = 0;
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(sv.f_bavail) * static_cast<std::uint64_t>(sv.f_frsize);
}

namespace {

// Whether the file system holding `native` is of the FAT family (FAT12/16/32, exFAT), also
// when it is mounted through FUSE, where only the mount table names the file system.
bool OnFatFamily(const std::string& native) {
#ifdef __linux__
    constexpr long kExfatMagic = 0x2011BAB0;
    constexpr long kFuseMagic = 0x65735546;
    struct statfs sfs;
    if (::statfs(native.c_str(), &sfs) != 0)
        return false;
    if (sfs.f_type == MSDOS_SUPER_MAGIC || sfs.f_type == kExfatMagic)
        return true;
    if (sfs.f_type != kFuseMagic)
        return false;
    // The mount whose point is the longest leading part of the path holds it.
    std::string type;
    std::size_t longest = 0;
    for (const mounts::MountEntry& m : mounts::ReadMountInfo("/proc/self/mountinfo")) {
        const std::string& point = m.mountPoint;
        const bool holds =
            native.compare(0, point.size(), point) == 0 &&
            (point == "/" || native.size() == point.size() || native[point.size()] == '/');
        if (holds && point.size() >= longest) {
            longest = point.size();
            type = m.fsType;
        }
    }
    std::transform(type.begin(), type.end(), type.begin(), AsciiLower);
    return type.find("fat") != std::string::npos;
#else
    (void)native;
    return false;
#endif
}

} // namespace

std::optional<std::uint64_t> AllocationUnit(const std::string& path) {
    const std::string native = Resolve(path).native;
    struct statvfs sv;
    if (native.empty() || ::statvfs(native.c_str(), &sv) != 0)
        return std::nullopt;
    // Some file systems report a unit smaller than their cluster in one of the two fields
    // (fusefat gives 1,024 for clusters of 4 KiB or more): the larger one is the nearer.
    auto unit = static_cast<std::uint64_t>(std::max<unsigned long>(sv.f_frsize, sv.f_bsize));
    // FAT-family clusters are never below 4 KiB on a card of the recorder's sizes; a smaller
    // figure is not the cluster, so count the cluster of SD cards from 2 to 32 GB.
    constexpr std::uint64_t kSmallestCardCluster = 4096, kSdCardCluster = 32768;
    if (unit < kSmallestCardCluster && OnFatFamily(native))
        unit = kSdCardCluster;
    return unit ? std::optional<std::uint64_t>(unit) : std::nullopt;
}

void MapDrive(const std::string& drive, const std::string& nativeRoot) {
    auto letter = DriveLetter(drive);
    if (!letter || nativeRoot.empty())
        return;
    std::error_code ec;
    fs::path root = fs::absolute(nativeRoot, ec);
    if (ec)
        root = nativeRoot;
    std::lock_guard<std::mutex> lock(MappingMutex());
    Mappings()[*letter] = TrimTrailingSlashes(root.lexically_normal().string());
}

std::string DriveNativeRoot(const std::string& drive) {
    auto letter = DriveLetter(drive);
    if (!letter)
        return {};
    auto volume = FindVolume(*letter);
    return volume ? volume->root : std::string();
}

ErrorModeGuard::ErrorModeGuard() {
    (void)previous_;
}

ErrorModeGuard::~ErrorModeGuard() = default;

// --- Paths and files -----------------------------------------------------------------------

std::string NativePath(const std::string& path) {
    return Resolve(path).native;
}

std::string DisplayPath(const std::string& path) {
    std::string native = NativePath(path);
    return native.empty() ? path : native;
}

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
        folder = ".";
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

std::optional<std::size_t> CopyFileRange(std::FILE* from, std::uint64_t offset, std::FILE* to,
                                         std::size_t count) {
#if defined(__linux__)
    // Bytes still in the stream's buffer go first; if they can't, the file lacks them.
    if (!FlushFile(to))
        return std::nullopt;
    const int in = ::fileno(from);
    const int out = ::fileno(to);
    auto at = static_cast<off_t>(offset);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::copy_file_range(in, &at, out, nullptr, count - done, 0);
        if (n == 0)
            break; // the source ended: the caller goes on
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // The destination could not take the bytes: the copy fails. Anything else (not
            // supported across these files, a busy system) leaves the rest to the caller's
            // own copy, which sees any real failure itself.
            if (errno == ENOSPC || errno == EIO || errno == EFBIG || errno == EDQUOT)
                return std::nullopt;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    // The stream must know where the descriptor now stands before it writes again; if it
    // can't, its next write would land at a stale position.
    if (done > 0 && ::fseeko(to, 0, SEEK_END) != 0)
        return std::nullopt;
    return done;
#else
    (void)from, (void)offset, (void)to, (void)count;
    return 0;
#endif
}

std::size_t ReadFileAt(std::FILE* from, std::uint64_t offset, void* buffer, std::size_t count) {
    const int fd = ::fileno(from);
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count && offset <= static_cast<std::uint64_t>(INT64_MAX) - done) {
        const ssize_t n = ::pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

#if defined(__linux__) && defined(__NR_io_uring_setup) && defined(__NR_io_uring_enter)

// The system's submission and completion rings, shared with the kernel through three
// mappings; reads are handed over as entries of the first and come back on the second.
struct BatchReader::Ring {
    static constexpr unsigned kEntries = 64;

    int fd = -1;
    void* sqMap = MAP_FAILED;
    std::size_t sqBytes = 0;
    void* cqMap = MAP_FAILED; // the same as sqMap where the kernel maps both at once
    std::size_t cqBytes = 0;
    io_uring_sqe* sqes = static_cast<io_uring_sqe*>(MAP_FAILED);
    std::size_t sqesBytes = 0;
    unsigned* sqTail = nullptr;
    unsigned sqMask = 0;
    unsigned* sqArray = nullptr;
    unsigned sqEntries = 0;
    unsigned* cqHead = nullptr;
    unsigned* cqTail = nullptr;
    unsigned cqMask = 0;
    io_uring_cqe* cqes = nullptr;
    bool unknownOp = false; // a read came back refused as such

    ~Ring() {
        if (sqes != MAP_FAILED)
            ::munmap(sqes, sqesBytes);
        if (cqMap != MAP_FAILED && cqMap != sqMap)
            ::munmap(cqMap, cqBytes);
        if (sqMap != MAP_FAILED)
            ::munmap(sqMap, sqBytes);
        if (fd >= 0)
            ::close(fd);
    }

    // nullptr where the system has no such rings or refuses them.
    static std::unique_ptr<Ring> Open() {
        // Asked for on a thread that must not fail for memory: none, no ring.
        std::unique_ptr<Ring> r(new (std::nothrow) Ring);
        if (!r)
            return nullptr;
        io_uring_params p{};
        r->fd = static_cast<int>(::syscall(__NR_io_uring_setup, kEntries, &p));
        if (r->fd < 0)
            return nullptr;
        r->sqBytes = p.sq_off.array + p.sq_entries * sizeof(unsigned);
        r->cqBytes = p.cq_off.cqes + p.cq_entries * sizeof(io_uring_cqe);
        const bool single = (p.features & IORING_FEAT_SINGLE_MMAP) != 0;
        if (single)
            r->sqBytes = r->cqBytes = std::max(r->sqBytes, r->cqBytes);
        // Populated at once: a page first touched later costs a fault each.
        constexpr int kShared = MAP_SHARED | MAP_POPULATE;
        r->sqMap =
            ::mmap(nullptr, r->sqBytes, PROT_READ | PROT_WRITE, kShared, r->fd, IORING_OFF_SQ_RING);
        if (r->sqMap == MAP_FAILED)
            return nullptr;
        r->cqMap = single ? r->sqMap
                          : ::mmap(nullptr, r->cqBytes, PROT_READ | PROT_WRITE, kShared, r->fd,
                                   IORING_OFF_CQ_RING);
        if (r->cqMap == MAP_FAILED)
            return nullptr;
        r->sqesBytes = p.sq_entries * sizeof(io_uring_sqe);
        r->sqes = static_cast<io_uring_sqe*>(
            ::mmap(nullptr, r->sqesBytes, PROT_READ | PROT_WRITE, kShared, r->fd, IORING_OFF_SQES));
        if (r->sqes == MAP_FAILED)
            return nullptr;
        auto* sq = static_cast<char*>(r->sqMap);
        auto* cq = static_cast<char*>(r->cqMap);
        r->sqTail = reinterpret_cast<unsigned*>(sq + p.sq_off.tail);
        r->sqMask = *reinterpret_cast<unsigned*>(sq + p.sq_off.ring_mask);
        r->sqArray = reinterpret_cast<unsigned*>(sq + p.sq_off.array);
        r->sqEntries = p.sq_entries;
        r->cqHead = reinterpret_cast<unsigned*>(cq + p.cq_off.head);
        r->cqTail = reinterpret_cast<unsigned*>(cq + p.cq_off.tail);
        r->cqMask = *reinterpret_cast<unsigned*>(cq + p.cq_off.ring_mask);
        r->cqes = reinterpret_cast<io_uring_cqe*>(cq + p.cq_off.cqes);
        return r;
    }

    // Hands over requests[0, count) (count <= sqEntries) and waits for all of them. Returns
    // false when the system refused the batch or doesn't know the read (a kernel older than
    // 5.6); then none of it is known to be done.
    bool Run(ReadRequest* requests, unsigned count) {
        unsigned tail = *sqTail; // only this thread moves it
        for (unsigned i = 0; i < count; ++i) {
            const unsigned slot = tail & sqMask;
            io_uring_sqe& e = sqes[slot];
            e = io_uring_sqe{};
            e.opcode = IORING_OP_READ;
            e.fd = ::fileno(requests[i].from);
            e.off = requests[i].offset;
            e.addr = reinterpret_cast<std::uintptr_t>(requests[i].buffer);
            e.len = static_cast<unsigned>(requests[i].count);
            e.user_data = i;
            sqArray[slot] = slot;
            ++tail;
        }
        std::atomic_ref<unsigned>(*sqTail).store(tail, std::memory_order_release);
        unsigned submitted = 0;
        unsigned reaped = 0;
        while (reaped < count) {
            const unsigned toSubmit = count - submitted;
            const long n = ::syscall(__NR_io_uring_enter, fd, toSubmit, count - reaped,
                                     IORING_ENTER_GETEVENTS, nullptr, 0);
            if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EBUSY) {
                Settle(requests, submitted - reaped);
                return false;
            }
            if (n > 0)
                submitted += static_cast<unsigned>(n);
            reaped += Reap(requests);
        }
        return !unknownOp;
    }

    // Takes every completion present; returns how many.
    unsigned Reap(ReadRequest* requests) {
        unsigned head = *cqHead; // only this thread moves it
        const unsigned end = std::atomic_ref<unsigned>(*cqTail).load(std::memory_order_acquire);
        unsigned n = 0;
        for (; head != end; ++head, ++n) {
            const io_uring_cqe& c = cqes[head & cqMask];
            ReadRequest& r = requests[c.user_data];
            r.done = c.res > 0 ? static_cast<std::size_t>(c.res) : 0;
            unknownOp = unknownOp || c.res == -EINVAL || c.res == -EOPNOTSUPP;
        }
        std::atomic_ref<unsigned>(*cqHead).store(head, std::memory_order_release);
        return n;
    }

    // The system refused to go on while `pending` reads were under way: waits for them where
    // it still can, so that none lands in memory the caller has moved on to use.
    void Settle(ReadRequest* requests, unsigned pending) {
        for (int tries = 0; pending > 0 && tries < 100; ++tries) {
            if (::syscall(__NR_io_uring_enter, fd, 0, 1, IORING_ENTER_GETEVENTS, nullptr, 0) < 0 &&
                errno != EINTR)
                break;
            const unsigned n = Reap(requests);
            pending -= std::min(pending, n);
        }
    }
};

#else

struct BatchReader::Ring {
    static constexpr unsigned kEntries = 64;
    unsigned sqEntries = kEntries;
    static std::unique_ptr<Ring> Open() { return nullptr; }
    bool Run(ReadRequest*, unsigned) { return false; }
};

#endif

BatchReader::BatchReader() = default;
BatchReader::~BatchReader() = default;

void BatchReader::ReadAll(ReadRequest* requests, std::size_t count) {
    // A ring costs a few system calls to set up: only batches worth it ask for one.
    constexpr std::size_t kWorthARing = 4;
    if (!tried_ && count >= kWorthARing) {
        tried_ = true;
        ring_ = Ring::Open();
    }
    std::size_t at = 0;
    if (ring_ && count >= 2) {
        while (at < count) {
            const auto part =
                static_cast<unsigned>(std::min<std::size_t>(count - at, ring_->sqEntries));
            if (!ring_->Run(requests + at, part)) {
                ring_.reset(); // refused: plain reads from here on
                break;
            }
            at += part;
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        ReadRequest& r = requests[i];
        if (i >= at)
            r.done = 0;
        // A piece that came short (end of the file, an interrupted read) or wasn't read goes on
        // with plain reads, which tell the end of the file apart.
        if (r.done < r.count)
            r.done += ReadFileAt(r.from, r.offset + r.done, static_cast<char*>(r.buffer) + r.done,
                                 r.count - r.done);
    }
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    const std::string native = Resolve(path).native;
    if (native.empty())
        return nullptr;
    // Only regular files: a folder would open for reading here, and a pipe would block.
    struct stat st;
    if (::stat(native.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        errno = EISDIR;
        return nullptr;
    }
    if (InjectedFault(FileOp::Open, path) != 0)
        return nullptr;
    std::FILE* f = std::fopen(native.c_str(), mode);
    RememberStream(f, path, mode);
    return f;
}

bool SyncFile(std::FILE* f) {
    if (!FlushFile(f))
        return false;
    if (InjectedFault(FileOp::Sync, f) != 0)
        return false;
    return ::fsync(::fileno(f)) == 0;
}

bool StartWriteBack(std::FILE* f) {
    if (!FlushFile(f))
        return false;
#ifdef __linux__
    // Only a hint: a failure to start shows when the file is synced.
    ::sync_file_range(::fileno(f), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    return true;
}

void PrepareMemory(void* p, std::size_t bytes) {
#if defined(__linux__)
    // Whole pages inside the range only: a page it shares with other memory is left alone.
    constexpr int kPopulateWrite = 23; // MADV_POPULATE_WRITE, Linux 5.14; older ones refuse it
    const auto from =
        (reinterpret_cast<std::uintptr_t>(p) + kMemoryPageBytes - 1) & ~(kMemoryPageBytes - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(kMemoryPageBytes - 1);
    if (to > from)
        ::madvise(reinterpret_cast<void*>(from), to - from, kPopulateWrite);
#else
    (void)p, (void)bytes;
#endif
}

namespace {
// The heap from here on is asked to be backed by large pages (2 MiB, the system's transparent
// huge pages): a large page costs one fault where 512 small ones cost one each, and on a
// virtual machine that is several microseconds apiece, milliseconds for every megabyte a
// transfer touches. kLargeHeapBytes are taken from the heap, the part of them that starts and
// ends on a large page's boundary is marked, and the block is given back; the bytes below the
// first boundary stay taken for good, so that the allocations that follow start in the marked
// part. Where the system has no such pages the mark does nothing: the memory is only address
// space until it is touched.
void BackHeapWithLargePages() {
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    constexpr std::size_t kLargeHeapBytes = std::size_t{16} << 20;
    void* block = std::malloc(kLargeHeapBytes);
    if (!block)
        return;
    const auto at = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t from = (at + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t to = (at + kLargeHeapBytes) & ~(kLargePage - 1);
    const bool marked = ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE) == 0;
    std::free(block);
    if (marked && from > at) {
        // From the top of the heap, where the block was: ends where the marked part begins
        // (an allocation's bookkeeping takes a word before it).
        static void* const below = std::malloc(from - at - sizeof(std::size_t));
        (void)below;
    }
}
} // namespace

void KeepFreedMemory() {
#ifdef __GLIBC__
    // Blocks up to 64 MiB come from the heap, and up to 64 MiB free at its top stay there.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#ifdef __linux__
    BackHeapWithLargePages();
#endif
#endif
}

unsigned UsableProcessors() {
#ifdef __linux__
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
#endif
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1u;
}

void QuietThread() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
}

void ReserveSpace(std::FILE* f, std::uint64_t bytes) {
#ifdef __linux__
    // Not posix_fallocate: where the file system can't reserve, it would write zeros instead.
    const int error = errno;
    if (bytes > 0)
        ::fallocate(::fileno(f), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
    errno = error;
#else
    (void)f;
    (void)bytes;
#endif
}

bool SyncPath(const std::string& path) {
    if (InjectedFault(FileOp::Sync, path) != 0)
        return false;
    const std::string native = Resolve(path).native;
    const int fd = native.empty() ? -1 : ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok;
}

bool SyncDirectory(const std::string& path) {
    if (InjectedFault(FileOp::Sync, path) != 0)
        return false;
    const std::string native = Resolve(path).native;
    if (native.empty()) {
        errno = ENOENT;
        return false;
    }
    const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Some file systems can't sync a folder (EINVAL); their entries are then written with
    // the files' own syncs.
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok;
}

std::string ProgramFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    std::string folder = ec ? fs::current_path(ec).string() : exe.parent_path().string();
    folder = TrimTrailingSlashes(folder);
    if (folder.empty() || folder == "/")
        return "C:";
    std::replace(folder.begin(), folder.end(), '/', '\\');
    return "C:" + folder;
}

std::string ToDrivePath(const std::string& nativePath) {
    std::error_code ec;
    fs::path absolute = fs::absolute(nativePath, ec);
    if (ec || nativePath.empty())
        return {};
    const std::string native = TrimTrailingSlashes(absolute.lexically_normal().string());

    std::optional<char> best;
    std::string bestRoot;
    for (const auto& [letter, volume] : Volumes()) {
        const std::string& root = volume.root;
        const bool holds =
            root == "/" || native == root ||
            (native.size() > root.size() && native.compare(0, root.size(), root) == 0 &&
             native[root.size()] == '/');
        if (holds && (!best || root.size() > bestRoot.size())) {
            best = letter;
            bestRoot = root;
        }
    }
    if (!best)
        return {};
    std::string rest = bestRoot == "/" ? native : native.substr(bestRoot.size());
    if (rest == "/")
        rest.clear();
    std::replace(rest.begin(), rest.end(), '/', '\\');
    return std::string{*best, ':'} + rest;
}

} // namespace platform
