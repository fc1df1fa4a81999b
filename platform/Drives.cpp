// The parts of drive letters and volumes that are the same on every system: reading a drive
// text and the table of folders mapped as drives.
#include "platform/Drives.h"

#include "platform/internal/Shared.h"

namespace platform {

namespace detail {

std::optional<char> DriveLetter(const std::string& text) {
    if (text.size() < 2 || text[1] != ':')
        return std::nullopt;
    const char c = text[0];
    if (c >= 'a' && c <= 'z')
        return static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z')
        return c;
    return std::nullopt;
}

std::mutex& MappingMutex() {
    static std::mutex m;
    return m;
}

std::map<char, std::string>& Mappings() {
    static std::map<char, std::string> m;
    return m;
}

} // namespace detail

void UnmapDrive(const std::string& drive) {
    auto letter = detail::DriveLetter(drive);
    if (!letter)
        return;
    std::lock_guard<std::mutex> lock(detail::MappingMutex());
    detail::Mappings().erase(*letter);
}

bool IsDeviceDrive(const std::string& rootPath) {
    return GetDriveType(rootPath) == DriveType::Removable && rootPath != "A:\\";
}

} // namespace platform
