#pragma once
// The events of one song's edit list in memory, one row per event line, in file order.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace th {

// A byte string of any length kept in place up to kKeptInPlace bytes (a zero byte after
// them), on the heap beyond, in kBytes bytes in all. The event table holds a row for each of
// up to 9998 events, and every page of memory touched for the first time costs a fault (on a
// virtual machine, several microseconds): rows of short texts kept this tightly take a third
// less memory than std::string fields, and reading a list allocates nothing per field.
//
// The last byte holds the size of a text kept in place, or kOnHeap; a text on the heap keeps
// its address and its size (32 bits: a field is a part of one line) in the first 12 bytes.
template <std::size_t kBytes> class InlineText {
    static_assert(kBytes >= 16 && kBytes <= 255, "a heap address and size, and a size byte");

public:
    static constexpr std::size_t kKeptInPlace = kBytes - 2;

    InlineText() noexcept { SetLocal(0); }
    InlineText(std::string_view text) : InlineText() { assign(text); }
    InlineText(const char* text) : InlineText(std::string_view(text)) {}
    InlineText(const std::string& text) : InlineText(std::string_view(text)) {}
    InlineText(const InlineText& other) : InlineText() { assign(other.view()); }
    InlineText(InlineText&& other) noexcept {
        std::memcpy(bytes_, other.bytes_, kBytes); // the text, or its heap memory, moves
        other.SetLocal(0);
    }
    InlineText& operator=(const InlineText& other) {
        if (this != &other)
            assign(other.view());
        return *this;
    }
    InlineText& operator=(InlineText&& other) noexcept {
        if (this != &other) {
            Release();
            std::memcpy(bytes_, other.bytes_, kBytes);
            other.SetLocal(0);
        }
        return *this;
    }
    InlineText& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    InlineText& operator=(const char* text) { return *this = std::string_view(text); }
    InlineText& operator=(const std::string& text) { return *this = std::string_view(text); }
    ~InlineText() { Release(); }

    void assign(std::string_view text) {
        if (text.size() <= kKeptInPlace && !OnHeap()) {
            // In place over the old text, which `text` may be part of. An empty view may have
            // no bytes at all to copy from.
            if (!text.empty())
                std::memmove(bytes_, text.data(), text.size());
            bytes_[text.size()] = 0;
            bytes_[kBytes - 1] = static_cast<unsigned char>(text.size());
            return;
        }
        if (text.size() <= kKeptInPlace) {
            // Copied before the old heap text is released: `text` may point into it.
            char local[kKeptInPlace + 1] = {};
            if (!text.empty())
                std::memcpy(local, text.data(), text.size());
            Release();
            std::memcpy(bytes_, local, sizeof local);
            bytes_[kBytes - 1] = static_cast<unsigned char>(text.size());
            return;
        }
        char* heap = new char[text.size() + 1];
        std::memcpy(heap, text.data(), text.size());
        heap[text.size()] = '\0';
        Release();
        const auto size = static_cast<std::uint32_t>(text.size());
        std::memcpy(bytes_, &heap, sizeof heap);
        std::memcpy(bytes_ + 8, &size, sizeof size);
        bytes_[kBytes - 1] = kOnHeap;
    }
    void clear() noexcept {
        Release();
        SetLocal(0);
    }
    std::size_t size() const noexcept {
        if (!OnHeap())
            return bytes_[kBytes - 1];
        std::uint32_t size;
        std::memcpy(&size, bytes_ + 8, sizeof size);
        return size;
    }
    bool empty() const noexcept { return size() == 0; }
    // The bytes, followed by a zero byte.
    const char* data() const noexcept {
        if (!OnHeap())
            return reinterpret_cast<const char*>(bytes_);
        const char* heap;
        std::memcpy(&heap, bytes_, sizeof heap);
        return heap;
    }
    std::string_view view() const noexcept { return {data(), size()}; }
    operator std::string_view() const noexcept { return view(); }
    std::string str() const { return std::string(view()); }

    friend bool operator==(const InlineText& a, std::string_view b) noexcept {
        return a.view() == b;
    }
    friend std::ostream& operator<<(std::ostream& out, const InlineText& text) {
        return out << text.view();
    }

private:
    static constexpr unsigned char kOnHeap = 0xFF;

    bool OnHeap() const noexcept { return bytes_[kBytes - 1] == kOnHeap; }
    void SetLocal(std::size_t size) noexcept {
        bytes_[0] = 0;
        bytes_[kBytes - 1] = static_cast<unsigned char>(size);
    }
    void Release() noexcept {
        if (OnHeap()) {
            delete[] data();
            SetLocal(0);
        }
    }

    alignas(8) unsigned char bytes_[kBytes];
};

// A timecode field: 16 bytes, kept in place (22 fit).
using TimecodeText = InlineText<24>;
// The short fields of an event line: "(Entry)", "(Cut)" or "(Silence)", "F", "_" (14 fit).
using ShortText = InlineText<16>;
// A source file's name: the recorder's take 11 characters, as "ZT60001.WAV" (22 fit).
using FileNameText = InlineText<24>;

struct SongEvent {
    ShortText EntryTag;             // "(Entry)"
    std::int32_t EntryNo = 0;       // "0001" gives 1
    ShortText EditKind;             // "(Cut)" or "(Silence)"; only "(Silence)" is ever tested
    ShortText SourceType;           // "F"; empty in a silence row
    FileNameText SourceFile;        // bare file name in the song folder, quotes removed
    std::int32_t SourceChannel = 0; // 1 in a silence row
    std::int32_t DestChannel = 0;   // the track, 1 to 8
    TimecodeText SourceIn;          // where the audio starts in the source
    TimecodeText DestIn;            // where the event starts on the track
    TimecodeText DestOut;           // first position after the event
    ShortText Remainder;            // the rest of the line after the tenth field

    bool IsSilence() const { return EditKind == "(Silence)"; }
};

// 9999 rows numbered from 1. Rows 1..EventCount are valid; a fill never clears rows past it,
// and no reader looks past it.
//
// Room for every row is taken at once, but a row is made (its memory touched) only when it is
// first asked for: most songs have far fewer rows, and every page of memory touched for the
// first time costs a fault (several microseconds on a virtual machine, where all 9999 rows
// took milliseconds of every import). The room never moves, so a row once handed out stays
// where it is; a row never made reads as an empty one.
class SongEventTable {
public:
    static constexpr int kRows = 9999;

    SongEventTable() { rows_.reserve(kRows); }
    SongEventTable(const SongEventTable& other) : SongEventTable() { *this = other; }
    SongEventTable& operator=(const SongEventTable& other) {
        rows_ = other.rows_; // within the room taken: nothing moves
        EventCount = other.EventCount;
        return *this;
    }

    // Row r, 1 <= r <= kRows (std::out_of_range otherwise).
    SongEvent& Row(int r) {
        const std::size_t i = Index(r);
        while (rows_.size() <= i)
            rows_.emplace_back();
        return rows_[i];
    }
    const SongEvent& Row(int r) const {
        static const SongEvent kNeverMade;
        const std::size_t i = Index(r);
        return i < rows_.size() ? rows_[i] : kNeverMade;
    }

    // Whether no row has been made yet: every row reads as an empty one.
    bool Untouched() const { return rows_.empty(); }
    // Unmakes every row: the table reads as a new one, but for EventCount.
    void UnmakeRows() { rows_.clear(); }

    std::int32_t EventCount = 0;

private:
    static std::size_t Index(int r) {
        if (r < 1 || r > kRows)
            throw std::out_of_range("event row " + std::to_string(r));
        return static_cast<std::size_t>(r - 1);
    }

    std::vector<SongEvent> rows_;
};

} // namespace th
