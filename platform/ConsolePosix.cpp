// The console on POSIX: arguments are already the bytes the user typed, and terminals take
// UTF-8 and escapes as they are.
#include "platform/Console.h"

#include <unistd.h>

namespace platform {

namespace {

int Descriptor(StdStream stream) {
    switch (stream) {
    case StdStream::In:
        return STDIN_FILENO;
    case StdStream::Out:
        return STDOUT_FILENO;
    case StdStream::Err:
        break;
    }
    return STDERR_FILENO;
}

} // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

void UseBinaryStandardStreams() {}

bool IsConsole(StdStream stream) {
    return ::isatty(Descriptor(stream)) != 0;
}

bool PrepareConsole(StdStream stream) {
    return IsConsole(stream);
}

} // namespace platform
