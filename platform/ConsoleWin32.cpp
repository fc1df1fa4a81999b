// The console on Windows. Arguments come from the wide command line; a handle is a console
// only when the console accepts GetConsoleMode on it (the null device passes isatty).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <shellapi.h>

#include "platform/Console.h"

#include <cstdio>
#include <cwchar>
#include <fcntl.h>
#include <io.h>

namespace platform {

namespace {

HANDLE Handle(StdStream stream) {
    switch (stream) {
    case StdStream::In:
        return ::GetStdHandle(STD_INPUT_HANDLE);
    case StdStream::Out:
        return ::GetStdHandle(STD_OUTPUT_HANDLE);
    case StdStream::Err:
        break;
    }
    return ::GetStdHandle(STD_ERROR_HANDLE);
}

std::string Utf8(const wchar_t* text) {
    const int length = static_cast<int>(std::wcslen(text));
    if (length == 0)
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

} // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) // no wide command line to be had: the narrow one is better than none
        return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc)
                        : std::vector<std::string>();
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i)
        args.push_back(Utf8(wide[i]));
    ::LocalFree(wide);
    return args;
}

void UseBinaryStandardStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

bool IsConsole(StdStream stream) {
    DWORD mode = 0;
    const HANDLE h = Handle(stream);
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
}

bool PrepareConsole(StdStream stream) {
    if (!IsConsole(stream))
        return false;
    ::SetConsoleOutputCP(CP_UTF8);
    if (stream == StdStream::In)
        return true;
    const HANDLE h = Handle(stream);
    DWORD mode = 0;
    if (!::GetConsoleMode(h, &mode))
        return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)
        return true;
    return ::SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

} // namespace platform
