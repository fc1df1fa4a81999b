#include "platform/MemoryAndThreads.h"

#include <gtest/gtest.h>

#ifdef __linux__
#include <sched.h>
#endif

namespace platform {
namespace {

#ifdef __linux__
// A process bound to fewer processors than the machine has counts only those: the renderer's
// two threads must not wait for each other by spinning on a single processor.
TEST(Processors, CountsOnlyThoseTheProcessMayRunOn) {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    int first = 0;
    while (!CPU_ISSET(first, &all))
        ++first;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    const unsigned bound = UsableProcessors();
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(bound, 1u);
}
#endif

} // namespace
} // namespace platform
