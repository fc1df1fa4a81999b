#include "song/SongEvent.h"

#include "platform/MemoryAndThreads.h"

#include <algorithm>
#include <system_error>

namespace th {

void SongEventTable::Expect(int rows) {
    constexpr std::size_t kWorthAThread = 512;
    Settle();
    const std::size_t made = rows_.size();
    const auto expected = static_cast<std::size_t>(std::clamp(rows, 0, kRows));
    if (expected < made + kWorthAThread)
        return;
    // The room past the rows made: the vector's storage, which no row occupies yet and which
    // nothing else touches until the helper is done.
    unsigned char* room = reinterpret_cast<unsigned char*>(rows_.data()) + made * sizeof(SongEvent);
    const std::size_t bytes = (expected - made) * sizeof(SongEvent);
    try {
        warmer_ = std::thread([room, bytes] {
            platform::QuietThread();
            platform::WarmMemory(room, bytes);
        });
    } catch (const std::system_error&) {
        // No thread to be had: the rows cost their faults when they are made.
    }
}

} // namespace th
