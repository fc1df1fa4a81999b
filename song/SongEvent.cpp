#include "song/SongEvent.h"

#include "platform/Platform.h"

#include <algorithm>
#include <system_error>

#include <cstring>
#include <ostream>

namespace th {

TimecodeText::TimecodeText(TimecodeText&& other) noexcept {
    TakeFrom(other);
}

TimecodeText& TimecodeText::operator=(const TimecodeText& other) {
    if (this != &other)
        assign(other.view());
    return *this;
}

TimecodeText& TimecodeText::operator=(TimecodeText&& other) noexcept {
    if (this == &other)
        return *this;
    Release();
    TakeFrom(other);
    return *this;
}

void TimecodeText::TakeFrom(TimecodeText& other) noexcept {
    size_ = other.size_;
    if (other.IsLocal()) {
        std::memcpy(local_, other.local_, sizeof local_);
        return;
    }
    heap_ = other.heap_; // the text moves; `other` is left empty
    other.size_ = 0;
    other.local_[0] = '\0';
}

void TimecodeText::assign(std::string_view text) {
    if (text.size() <= kLocal) {
        // Copied before the old heap text is released: `text` may point into it.
        // An empty view may have no bytes at all to copy from.
        char local[kLocal + 1] = {};
        if (!text.empty())
            std::memcpy(local, text.data(), text.size());
        Release();
        std::memcpy(local_, local, sizeof local_);
        size_ = text.size();
        return;
    }
    char* heap = new char[text.size() + 1];
    std::memcpy(heap, text.data(), text.size());
    heap[text.size()] = '\0';
    Release();
    heap_ = heap;
    size_ = text.size();
}

void TimecodeText::clear() noexcept {
    Release();
    size_ = 0;
    local_[0] = '\0';
}

void TimecodeText::Release() noexcept {
    if (!IsLocal()) {
        delete[] heap_;
        size_ = 0;
        local_[0] = '\0';
    }
}

std::ostream& operator<<(std::ostream& out, const TimecodeText& text) {
    return out << text.view();
}

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
