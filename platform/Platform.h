#pragma once
// The operating system's services that the program needs, one header per concern. This
// header includes them all; a source that needs one concern may include its header alone.
//
//   Drives.h            drive letters and volumes
//   Paths.h             drive-letter paths and native paths
//   Files.h             files and folders: listing, attributes, delete, rename
//   Streams.h           file streams: open, write, copy, read at offsets, sync, close
//   BatchReads.h        reads of bytes the system holds, made together
//   FaultSeam.h         making file operations fail, for tests
//   TextLines.h         text files as lines
//   Memory.h            how freed memory is kept
//   Processors.h        how many processors the process may use
//   Console.h           the command line's arguments and standard streams
//   Mounts.h            removable media in the Linux mount table
//
// On Windows, include <windows.h> before these headers, never after them.

#include "platform/BatchReads.h"
#include "platform/Console.h"
#include "platform/Drives.h"
#include "platform/FaultSeam.h"
#include "platform/Files.h"
#include "platform/Memory.h"
#include "platform/Paths.h"
#include "platform/Processors.h"
#include "platform/Streams.h"
#include "platform/TextLines.h"
