#pragma once
// Helpers that the platform layer's Windows sources share: the conversion of texts between
// the program's UTF-8 and the system's wide characters, and drive-letter paths in native
// form. Nothing outside platform/ includes this header; the sources include it first, as
// <windows.h> must come before the layer's own headers.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

namespace platform::detail {

// A text handed to the system. It is read as UTF-8; a text that is no valid UTF-8 is read in
// the ANSI code page, as the recorder and older programs write names into edit lists.
std::wstring Wide(const std::string& text);
// A text from the system, as UTF-8.
std::string Utf8(const wchar_t* text, std::size_t length);
std::string Utf8(const std::wstring& text);
std::string Utf8(const wchar_t* text);

// The folder mapped as the drive of this letter, if any.
std::optional<std::string> MappedRoot(char letter);
// Whether the system itself has a drive of this letter.
bool SystemHasDrive(char letter);

std::string Backslashes(std::string path);
// The absolute form of a native path; the path itself when the system can't make one.
std::string FullPath(const std::string& native);
// The native path of a drive-letter path in the system's wide form; empty when the drive is
// unknown.
std::wstring WideNative(const std::string& path);

// The system's attributes of a native or drive-letter path; INVALID_FILE_ATTRIBUTES when
// there is no such entry.
DWORD Attributes(const std::wstring& native);
DWORD Attributes(const std::string& path);

} // namespace platform::detail
