#include "platform/Memory.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace platform {

void KeepFreedMemory() {
#ifdef __GLIBC__
    // Blocks up to 64 MiB come from the heap, and up to 64 MiB free at its top stay there.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

} // namespace platform
