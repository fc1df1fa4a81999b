#pragma once
// The parts of a song's AES31 edit list (".ADL") that the program reads and writes.
// Lines are compared with tags after trimming; everything else is carried along unread.
#include "platform/Platform.h"
#include "song/SongEvent.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace th {

using Lines = std::vector<std::string>;

// Removes leading and trailing characters of code 32 or less.
std::string Trim(std::string_view text);

// The trimmed lines of a <SEQUENCE> block, opening line in slot 0. Lines beyond the tenth
// slot are ignored. A later block fills the slots again from slot 0; slots it doesn't reach
// keep what the earlier block put there.
using SequenceLines = std::array<std::string, 10>;

// Reads the <SEQUENCE> block(s). Returns nullopt when there is none; throws ListIndexError
// when a block has no closing "</SEQUENCE>". Slots no block reaches are left empty.
std::optional<SequenceLines> ReadSequenceLines(const Lines& lines);
std::optional<SequenceLines> ReadSequenceLines(const platform::TextLines& lines);

// ReadSequenceLines for lines that come one at a time (a list read in pieces).
class SequenceReader {
public:
    void Take(std::string_view line);
    // What ReadSequenceLines returns for the lines taken; throws as it does.
    std::optional<SequenceLines> Finish() const;
    // The line (counted from 1) that slot 1, where the rate is read, came from; when no block
    // reached slot 1, the line after the last block's opening one.
    std::size_t RateLine() const { return rateLine_; }

private:
    std::optional<SequenceLines> result_;
    std::size_t lines_ = 0;
    std::size_t rateLine_ = 0;
    bool rateSlotFilled_ = false;
    std::size_t slot_ = 0;
    bool inBlock_ = false;
};

// The song's sampling frequency from slot 1: drop 17 characters, trim, drop one more
// character, convert the rest (throws ConvertError when it is not an integer).
int SampleRateFromSequence(const SequenceLines& sequence);

// Frame-rate text of a <SEQUENCE> line 5 (untrimmed): characters 20 to 35 hold a timecode;
// "F24", "F25", "F30nd", "F30df", or nullopt.
std::optional<std::string> FrameRateTextOfLine(const std::string& line5);

// What the export needs to know before it changes a list.
struct ExportScan {
    std::string frameRateText; // "F24", "F25", "F30nd" or "F30df"
    int nextEntryNo = 1;       // entry number of the first new event
};

enum class ScanError {
    None,
    NoSequence,        // no <SEQUENCE> block (or its line 5 is missing)
    BadFrameRate,      // line 5 names no frame rate we can write
    UnclosedEventList, // <EVENT_LIST> without a "</ADL>" line after it
    NoClosingLines,    // the last two lines are not "</EVENT_LIST>" and "</ADL>"
    NoEventList,       // no <EVENT_LIST> line: the last two lines are not known to close it
    ClosedEarly,       // an "</EVENT_LIST>" or "</ADL>" before the last two lines ends the
                       // list where the import stops reading: new events would be unseen
};

// Scans a list as the export's rewrite does. nullopt (with the reason) when the export can't
// rewrite it safely; the file must then stay unchanged.
std::optional<ExportScan> ScanForExport(const Lines& lines, ScanError* why = nullptr);
// The reason in words, for the user.
std::string ScanErrorText(ScanError error);

// Frame-rate code (24, 25, 30) and drop-frame flag of a frame-rate text.
int FrameRateCode(const std::string& frameRateText);
bool IsDropFrame(const std::string& frameRateText);

// The zero timecode written for source in and destination in of a new event; empty when the
// rate has no timecode form.
std::string ZeroTimecode(int sampleRate, const std::string& frameRateText);

// "\t\t(Entry)\t0004\t(Cut)\tF\t\"ZT60001.WAV\"\t1\t3\t<zero>\t<zero>\t<length>\t_\r\n"
std::string ComposeEventLine(int entryNo, const std::string& upperFileName, int track,
                             const std::string& zeroTc, const std::string& lengthTc);

// Most events the import reads from one list.
inline constexpr int kMaxEvents = 9998;

// The closing lines of a list as the export writes them.
inline constexpr std::string_view kClosingLines = "\t</EVENT_LIST>\r\n</ADL>\r\n";

// Cuts one event line into its eleven fields (fields 0..9 without blanks and TABs, field 10
// the rest unchanged, quotes removed from field 4).
std::array<std::string, 11> CutEventLine(const std::string& line);

// Fills the table from the first <EVENT_LIST> block; later blocks are not read. Returns false
// (table untouched) when the block holds more than kMaxEvents events. Throws ListIndexError when
// the block is not closed and ConvertError when an integer field is not an integer; the table is
// untouched then too. No <EVENT_LIST>: EventCount 0.
bool ReadEventList(const Lines& lines, SongEventTable& table);
bool ReadEventList(const platform::TextLines& lines, SongEventTable& table);

// The line (counted from 1) of the "<EVENT_LIST>" line that ReadEventList reads from, 0 when
// there is none: row r of the table came from the line r after it.
std::size_t EventListLine(const Lines& lines);
std::size_t EventListLine(const platform::TextLines& lines);

} // namespace th
