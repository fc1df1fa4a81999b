#pragma once
// How the process keeps the memory it frees.

namespace platform {

// Has the memory allocator keep what is freed for the next allocations instead of giving it
// back to the system at once: a transfer frees the edit list it has read just before it takes
// its copy buffers, and memory the system hands out afresh costs a fault per page. Called
// once, first thing in main.
void KeepFreedMemory();

} // namespace platform
