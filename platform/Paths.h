#pragma once
// Paths between the program's drive-letter form ("E:\\Song\\Song.ADL", no trailing backslash
// on folders) and the system's native form. Only the platform layer translates them; on POSIX
// names are found without regard to ASCII letter case, as on the recorder's own file system.

#include <filesystem>
#include <string>

namespace platform {

// Native path of a drive-letter path; components that do not exist as written are matched
// against the folder's entries ignoring ASCII case. Components that match nothing stay as
// written, so a file that is created gets exactly the name asked for. Empty when the drive
// letter is unknown.
std::string NativePath(const std::string& path);
// A path as a person using this system reads it in a message: the drive-letter form on
// Windows (the folder's path on a folder mapped as a drive, whose letter the person never
// saw), the native path elsewhere (the text unchanged when its drive is unknown).
std::string DisplayPath(const std::string& path);

// Folder of the running executable, in drive-letter form, no trailing backslash.
std::string ProgramFolder();
// A native path turned into drive-letter form (the longest matching drive root wins);
// empty when no drive holds it.
std::string ToDrivePath(const std::string& nativePath);

// Text inside the program is UTF-8 on every system. These convert at the standard library's
// path type, which on Windows would otherwise read a narrow text in the ANSI code page.
inline std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace platform
