#pragma once
// Helpers that the platform layer's own sources share on every system. Nothing outside
// platform/ includes this header.

#include "platform/FaultSeam.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace platform::detail {

// The letter of a drive text ("e:", "E:\\..."), upper-cased.
std::optional<char> DriveLetter(const std::string& text);

// Folders presented as removable drives (MapDrive), by letter, guarded by MappingMutex.
std::mutex& MappingMutex();
std::map<char, std::string>& Mappings();

// Name pattern of a folder listing: "*" and "*.*" take everything, otherwise "*" and "?"
// wildcards, letter case ignored.
bool PatternMatches(const std::string& pattern, const std::string& name);

// The error a test wants for this operation (errno set to it), or 0. A stream is named by the
// path it was opened for writing with (empty for any other stream).
int InjectedFault(FileOp op, const std::string& path);
int InjectedFault(FileOp op, const std::FILE* f);
// Remembers the path of a stream opened for writing while a hook is installed, for the
// hook's sake; ForgetStream drops it when the stream closes.
void RememberStream(const std::FILE* f, const std::string& path, const char* mode);
void ForgetStream(const std::FILE* f);

} // namespace platform::detail
