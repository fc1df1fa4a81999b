#pragma once
// The command line's view of the console: its arguments as UTF-8 and what the standard
// streams are connected to.
#include <string>
#include <vector>

namespace platform {

// The program's arguments after the program name, as UTF-8. On Windows they are read from
// the wide command line, so names outside the ANSI code page arrive whole.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes standard output and error carry the bytes the program writes: UTF-8 with "\n" line
// ends on every system (no CR is added on Windows), so scripts and tests see the same text.
void UseBinaryStandardStreams();

enum class StdStream { In, Out, Err };

// Whether the stream is an interactive console (a terminal), not a file, pipe or null device.
bool IsConsole(StdStream stream);

// Prepares a console stream for UTF-8 text and for "ESC [ K" (erase to the end of the line).
// False when the console can't interpret such escapes; the caller then draws without them.
bool PrepareConsole(StdStream stream);

} // namespace platform
