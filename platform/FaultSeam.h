#pragma once
// A seam through which tests make the program's file operations fail.

#include <functional>
#include <string>

namespace platform {

// The file operations a test can make fail. Open covers OpenFile; Write covers WriteFile,
// FlushFile and the kernel copy; Sync covers SyncFile, SyncPath and SyncDirectory; Rename
// RenameFile; Close CloseFile; CachedRead each read of ReadFileAtIfCached and CachedReads,
// which a failure turns into bytes the system does not hold (as on a card read for the first
// time), for the caller to read the usual way.
enum class FileOp { Open, Write, Sync, Rename, Close, CachedRead };
// Asked before each such operation with the path as the caller named it (for a stream, the
// path it was opened with; empty for a stream not opened for writing). Returns 0 to let the
// operation run, or an errno value (ENOSPC, EIO, ...) to make it fail with that reason
// without touching the file; a failed close still releases the stream.
using FaultHook = std::function<int(FileOp op, const std::string& path)>;
// Installs the hook for the whole process; an empty hook removes it. The program never
// installs one. tests/support/FaultInjection.h fails the N-th operation of a kind.
void SetFaultHook(FaultHook hook);

} // namespace platform
