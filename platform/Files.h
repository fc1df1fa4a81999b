#pragma once
// Files and folders by drive-letter path: listing, existence, size, attributes, delete,
// rename and create. Opening, writing and syncing a file's contents are in Streams.h.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
// <windows.h> defines these names as macros for its ANSI and wide variants; this layer's own
// functions carry the same names. Include <windows.h> before this header, never after it.
#undef CreateDirectory
#undef DeleteFile
#undef GetFileAttributes
#endif

namespace platform {

// File attribute bits, as the recorder's file system and Windows define them.
enum Attribute : std::uint32_t {
    AttrReadOnly = 0x01,
    AttrHidden = 0x02,
    AttrSystem = 0x04,
    AttrVolumeLabel = 0x08,
    AttrDirectory = 0x10,
    AttrArchive = 0x20,
    AttrNormal = 0x80,
};
constexpr std::uint32_t kAttrMaskAll = 63; // every kind of entry

struct DirEntry {
    std::string name;         // as the file system gives it
    std::uint32_t attributes; // Attribute bits
};

// Entries of `pattern` (a folder + "\\*.*"; "*" and "?" match ignoring case), "." and ".."
// included and first, the others in the file system's order. Empty when the folder can't be
// read.
std::vector<DirEntry> ListDirectory(const std::string& pattern);

// True at the first subfolder of `path` (hidden ones count), without looking at every file.
bool HasSubdirectory(const std::string& path);

bool FileExists(const std::string& path);      // exists and is not a directory
bool DirectoryExists(const std::string& path); // exists and is a directory
// The size in bytes of a file; nullopt when there is no such file.
std::optional<std::uint64_t> FileSize(const std::string& path);
// Attribute bits of a file or folder; nullopt when it does not exist.
std::optional<std::uint32_t> GetFileAttributes(const std::string& path);
// The read-only attribute; on POSIX a missing write permission for the file's owner (whoever
// runs the program, root included).
bool IsReadOnly(const std::string& path);
// Clears read-only (makes the file writable for its owner).
bool SetFileAttributesNormal(const std::string& path);
// Deletes a file; a read-only file or a folder is left alone (false).
bool DeleteFile(const std::string& path);
// Renames `from` to `to`; an existing `to` is replaced, also when its name differs in letter
// case (the file then takes the name `to` gives). A read-only `to` is not replaced (false).
bool RenameFile(const std::string& from, const std::string& to);
bool CreateDirectory(const std::string& path);

// The whole content of a file; nullopt when it can't be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

} // namespace platform
