#pragma once
// The events of one song's edit list in memory, one row per event line, in file order.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace th {

// The text of a timecode field: a byte string of any length, like the other text fields, but
// kept in place up to 23 bytes. A timecode is 16 bytes, one more than a std::string keeps in
// place, so a list of 9998 events would otherwise cost 30,000 allocations as it is read (and
// as many frees), a good part of the time before an import's copy can start.
class TimecodeText {
public:
    TimecodeText() noexcept { local_[0] = '\0'; }
    TimecodeText(std::string_view text) : TimecodeText() { assign(text); }
    TimecodeText(const char* text) : TimecodeText(std::string_view(text)) {}
    TimecodeText(const std::string& text) : TimecodeText(std::string_view(text)) {}
    TimecodeText(const TimecodeText& other) : TimecodeText() { assign(other.view()); }
    TimecodeText(TimecodeText&& other) noexcept;
    TimecodeText& operator=(const TimecodeText& other);
    TimecodeText& operator=(TimecodeText&& other) noexcept;
    TimecodeText& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    TimecodeText& operator=(const char* text) { return *this = std::string_view(text); }
    TimecodeText& operator=(const std::string& text) { return *this = std::string_view(text); }
    ~TimecodeText() { Release(); }

    void assign(std::string_view text);
    void clear() noexcept;
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    // The bytes, followed by a zero byte.
    const char* data() const noexcept { return IsLocal() ? local_ : heap_; }
    std::string_view view() const noexcept { return {data(), size_}; }
    operator std::string_view() const noexcept { return view(); }
    std::string str() const { return std::string(view()); }

    friend bool operator==(const TimecodeText& a, std::string_view b) noexcept {
        return a.view() == b;
    }

private:
    static constexpr std::size_t kLocal = 23; // bytes kept in place, a zero byte after them

    bool IsLocal() const noexcept { return size_ <= kLocal; }
    void Release() noexcept;
    // Takes other's text, whose own memory this one does not hold (released or never had).
    void TakeFrom(TimecodeText& other) noexcept;

    std::size_t size_ = 0;
    union {
        char local_[kLocal + 1];
        char* heap_; // size_ + 1 bytes
    };
};

std::ostream& operator<<(std::ostream& out, const TimecodeText& text);

struct SongEvent {
    std::string EntryTag;           // "(Entry)"
    std::int32_t EntryNo = 0;       // "0001" gives 1
    std::string EditKind;           // "(Cut)" or "(Silence)"; only "(Silence)" is ever tested
    std::string SourceType;         // "F"; empty in a silence row
    std::string SourceFile;         // bare file name in the song folder, quotes removed
    std::int32_t SourceChannel = 0; // 1 in a silence row
    std::int32_t DestChannel = 0;   // the track, 1 to 8
    TimecodeText SourceIn;          // where the audio starts in the source
    TimecodeText DestIn;            // where the event starts on the track
    TimecodeText DestOut;           // first position after the event
    std::string Remainder;          // the rest of the line after the tenth field

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
        Settle();
        rows_ = other.rows_; // within the room taken: nothing moves
        EventCount = other.EventCount;
        return *this;
    }
    ~SongEventTable() { Settle(); }

    // A list of about `rows` events is about to be read: the memory of the rows not made yet
    // is touched on a helper thread meanwhile, while this one loads and checks the list, so
    // that making the rows then costs no faults. Nothing changes in the table; the helper is
    // waited for before the next row is made. Below a few hundred rows it isn't worth a thread.
    void Expect(int rows);

    // Row r, 1 <= r <= kRows (std::out_of_range otherwise).
    SongEvent& Row(int r) {
        Settle();
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

    std::int32_t EventCount = 0;

private:
    void Settle() {
        if (warmer_.joinable())
            warmer_.join();
    }
    static std::size_t Index(int r) {
        if (r < 1 || r > kRows)
            throw std::out_of_range("event row " + std::to_string(r));
        return static_cast<std::size_t>(r - 1);
    }

    std::vector<SongEvent> rows_;
    std::thread warmer_; // touching the room of rows to come (see Expect)
};

} // namespace th
