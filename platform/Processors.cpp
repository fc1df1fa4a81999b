#include "platform/Processors.h"

#ifdef _WIN32
#include <windows.h>

#include <bitset>
#else
#include <sched.h>
#endif

namespace platform {

unsigned UsableProcessors() {
#ifdef _WIN32
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0)
        return 1;
    return static_cast<unsigned>(std::bitset<sizeof(DWORD_PTR) * 8>(process).count());
#else
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? static_cast<unsigned>(count) : 1;
#endif
}

} // namespace platform
