#pragma once
#include <cstdint>

namespace th {
// Sample positions and byte positions are unsigned 32-bit by design and wrap around.
// All audio is 16-bit mono, so a byte position is twice a sample position.
using SampleCount = std::uint32_t;
using BytePos = std::uint32_t;

constexpr BytePos SamplesToBytes(SampleCount samples) {
    return static_cast<BytePos>(samples * 2u);
}
} // namespace th
