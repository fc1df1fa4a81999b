#include "song/Adl.h"

#include "song/Errors.h"
#include "song/Tc2w.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace th {

namespace {

constexpr std::string_view kSequenceTag = "<SEQUENCE>";
constexpr std::string_view kSequenceEnd = "</SEQUENCE>";
constexpr std::string_view kEventListTag = "<EVENT_LIST>";
constexpr std::string_view kEventListEnd = "</EVENT_LIST>";
constexpr std::string_view kAdlEnd = "</ADL>";

// Line 5 of the <SEQUENCE> block holds its timecode from character 20 (counted from 1).
constexpr std::size_t kSequenceTcLine = 5;
constexpr std::size_t kSequenceTcColumn = 19;
constexpr std::size_t kTimecodeLength = 16;

// The event buffer holds the opening line and the events; reaching this size refuses the
// list, so at most kEventBufferLines - 2 events are read.
constexpr int kEventBufferLines = kMaxEvents + 2;

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

} // namespace

namespace {

// Trim without a copy, for the many lines that are only compared.
std::string_view TrimView(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

} // namespace

std::string Trim(std::string_view text) {
    return std::string(TrimView(text));
}

namespace {

template <class LineList> std::string_view LineOf(const LineList& lines, std::size_t index) {
    if (index >= lines.size())
        throw LineMissing(index);
    return lines[index];
}

template <class LineList> std::optional<SequenceLines> SequenceLinesOf(const LineList& lines) {
    SequenceReader reader;
    for (std::size_t i = 0; i < lines.size(); ++i)
        reader.Take(lines[i]);
    return reader.Finish();
}

} // namespace

void SequenceReader::Take(std::string_view line) {
    const std::string_view text = TrimView(line);
    const bool opening = text == kSequenceTag;
    ++lines_;
    if (inBlock_) {
        // Every line up to the closing one is the block's, a "<SEQUENCE>" too.
        if (text == kSequenceEnd) {
            inBlock_ = false;
            return;
        }
    } else {
        if (!opening)
            return;
        // A later block overwrites the slots it reaches.
        if (!result_)
            result_.emplace();
        inBlock_ = true;
        slot_ = 0;
        if (!rateSlotFilled_)
            rateLine_ = lines_ + 1;
    }
    if (slot_ < result_->size())
        (*result_)[slot_] = std::string(text);
    if (slot_ == 1) {
        rateLine_ = lines_;
        rateSlotFilled_ = true;
    }
    ++slot_;
}

std::optional<SequenceLines> SequenceReader::Finish() const {
    // A block still open is read past the last line.
    if (inBlock_)
        throw LineMissing(lines_);
    return result_;
}

std::optional<SequenceLines> ReadSequenceLines(const Lines& lines) {
    return SequenceLinesOf(lines);
}

std::optional<SequenceLines> ReadSequenceLines(const platform::TextLines& lines) {
    return SequenceLinesOf(lines);
}

int SampleRateFromSequence(const SequenceLines& sequence) {
    // "<keyword of 17 characters>   S44100": the number follows the key and one letter.
    std::string rest = Trim(sequence[1]);
    rest = Trim(rest.size() > 17 ? std::string_view(rest).substr(17) : std::string_view());
    if (!rest.empty())
        rest.erase(0, 1);
    return StrToInt(rest);
}

std::optional<std::string> FrameRateTextOfLine(const std::string& line5) {
    if (line5.size() <= kSequenceTcColumn)
        return std::nullopt;
    const std::string tc = line5.substr(kSequenceTcColumn, kTimecodeLength);
    if (tc.size() < 3)
        return std::nullopt;
    switch (tc[2]) {
    case '=':
        return "F24";
    case '.':
        return "F25";
    case '|':
        if (tc.size() < 9)
            return std::nullopt;
        if (tc[8] == '.')
            return "F30nd";
        if (tc[8] == ',')
            return "F30df";
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

std::optional<ExportScan> ScanForExport(const Lines& lines, ScanError* why) {
    const auto fail = [why](ScanError error) -> std::optional<ExportScan> {
        if (why)
            *why = error;
        return std::nullopt;
    };
    ExportScan scan;
    bool haveSequence = false;
    bool haveEventList = false;
    std::size_t eventList = 0, eventListEnd = 0; // the "<EVENT_LIST>" and its "</ADL>"
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string line = Trim(lines[i]);
        if (line == kSequenceTag) {
            if (i + kSequenceTcLine >= lines.size())
                return fail(ScanError::NoSequence);
            const auto frameRate = FrameRateTextOfLine(lines[i + kSequenceTcLine]);
            if (!frameRate)
                return fail(ScanError::BadFrameRate);
            scan.frameRateText = *frameRate;
            haveSequence = true;
        } else if (line == kEventListTag) {
            // The import reads the first event list only: new events in a later one would be
            // unseen.
            if (haveEventList)
                return fail(ScanError::ClosedEarly);
            // The closing "</ADL>" is looked for from the second line on; the lines before
            // it (events and "</EVENT_LIST>") give the next entry number.
            std::size_t end = i + 2;
            while (end < lines.size() && Trim(lines[end]) != kAdlEnd)
                ++end;
            if (end >= lines.size())
                return fail(ScanError::UnclosedEventList);
            scan.nextEntryNo = static_cast<int>(end - i - 1);
            haveEventList = true;
            eventList = i;
            eventListEnd = end;
            i = end;
        }
    }
    if (!haveSequence)
        return fail(ScanError::NoSequence);
    if (!haveEventList)
        return fail(ScanError::NoEventList);
    // The rewrite drops the last two lines: they must be the ones that close the event list
    // and the file, or the new events would land outside the list.
    if (lines.size() < 2 || Trim(lines[lines.size() - 2]) != "</EVENT_LIST>" ||
        Trim(lines.back()) != kAdlEnd)
        return fail(ScanError::NoClosingLines);
    // The import reads up to the first "</EVENT_LIST>": it must be the one the rewrite drops,
    // and the "</ADL>" that ends the scan must be the last line, or the new events would land
    // where nobody reads them.
    if (eventListEnd + 1 != lines.size())
        return fail(ScanError::ClosedEarly);
    for (std::size_t k = eventList + 1; k + 2 < lines.size(); ++k)
        if (Trim(lines[k]) == kEventListEnd)
            return fail(ScanError::ClosedEarly);
    if (why)
        *why = ScanError::None;
    return scan;
}

std::string ScanErrorText(ScanError error) {
    switch (error) {
    case ScanError::None:
        return {};
    case ScanError::NoSequence:
        return "The edit list has no complete <SEQUENCE> block";
    case ScanError::BadFrameRate:
        return "The edit list's frame rate is not one an event can be written in";
    case ScanError::UnclosedEventList:
        return "The event list is not followed by </ADL>";
    case ScanError::NoClosingLines:
        return "The edit list does not end with </EVENT_LIST> and </ADL>";
    case ScanError::NoEventList:
        return "The edit list has no <EVENT_LIST> block";
    case ScanError::ClosedEarly:
        return "The event list ends before the last lines of the edit list, or a second one "
               "follows: the import would not read new events";
    }
    return {};
}

int FrameRateCode(const std::string& frameRateText) {
    if (frameRateText.size() < 3 || frameRateText[1] < '0' || frameRateText[1] > '9' ||
        frameRateText[2] < '0' || frameRateText[2] > '9')
        return 0;
    return (frameRateText[1] - '0') * 10 + (frameRateText[2] - '0');
}

bool IsDropFrame(const std::string& frameRateText) {
    return FrameRateCode(frameRateText) == 30 && frameRateText.compare(3, 2, "df") == 0;
}

std::string ZeroTimecode(int sampleRate, const std::string& frameRateText) {
    return TTC2W().SamplesToTc(0, sampleRate, FrameRateCode(frameRateText),
                               IsDropFrame(frameRateText));
}

std::string ComposeEventLine(int entryNo, const std::string& upperFileName, int track,
                             const std::string& zeroTc, const std::string& lengthTc) {
    char number[16];
    std::snprintf(number, sizeof number, "%04d", entryNo);
    std::string line = "\t\t(Entry)\t";
    line += number;
    line += "\t(Cut)\tF\t\"";
    line += upperFileName;
    line += "\"\t1\t";
    line += std::to_string(track);
    line += '\t';
    line += zeroTc;
    line += '\t';
    line += zeroTc;
    line += '\t';
    line += lengthTc;
    line += "\t_\r\n";
    return line;
}

namespace {

// The fields of an event line as they stand in it: fields 0..9 up to their TABs, blanks and
// quotes not yet removed; field 10 the rest. From the first field without a TAB on, fields
// 0..9 are empty and the rest stays in field 10.
using EventFields = std::array<std::string_view, 11>;

// `cut` < 10 cuts only fields 0..cut-1, as they stand in the whole cut; field 10 is then the
// rest of the line after them.
EventFields EventFieldsOf(std::string_view line, std::size_t cut = 10) {
    EventFields fields;
    std::string_view rest = TrimView(line);
    for (std::size_t k = 0; k < cut; ++k) {
        const std::size_t tab = rest.find('\t');
        if (tab == std::string_view::npos)
            break;
        fields[k] = rest.substr(0, tab);
        rest.remove_prefix(tab + 1);
    }
    fields[10] = rest;
    return fields;
}

// Fields are a few bytes long: a plain loop costs less than a search call.
bool HasBlank(std::string_view field) {
    for (const char c : field)
        if (c == ' ')
            return true;
    return false;
}

bool HasBlankOrQuote(std::string_view field) {
    for (const char c : field)
        if (c == ' ' || c == '"')
            return true;
    return false;
}

// Field k (0..9) without blanks; the file name (field 4) also without quotes.
template <class Text> void AssignField(Text& to, std::string_view field, std::size_t k) {
    if (k != 4) {
        if (!HasBlank(field)) {
            to.assign(field);
            return;
        }
    } else if (field.size() >= 2 && field.front() == '"' && field.back() == '"' &&
               !HasBlankOrQuote(field.substr(1, field.size() - 2))) {
        // The usual file name: quoted, with nothing else to remove.
        to.assign(field.substr(1, field.size() - 2));
        return;
    }
    const auto removed = [k](char c) { return c == ' ' || (k == 4 && c == '"'); };
    if (std::none_of(field.begin(), field.end(), removed)) {
        to.assign(field);
        return;
    }
    std::string kept;
    std::remove_copy_if(field.begin(), field.end(), std::back_inserter(kept), removed);
    to.assign(kept);
}

int IntField(std::string_view field, std::size_t k) {
    if (!HasBlank(field))
        return StrToInt(field);
    std::string text;
    AssignField(text, field, k);
    return StrToInt(text);
}

// The integer fields of an event line, converted before anything is stored.
struct EventNumbers {
    std::int32_t entryNo;
    std::int32_t sourceChannel;
    std::int32_t destChannel;
};

bool IsSilenceKind(std::string_view field) {
    // The kind is compared without its blanks, as it is stored.
    if (!HasBlank(field))
        return field == "(Silence)";
    std::string kind;
    AssignField(kind, field, 2);
    return kind == "(Silence)";
}

// The fields the numbers stand in: 0..6.
constexpr std::size_t kNumberFields = 7;

EventNumbers NumbersOf(const EventFields& f) {
    EventNumbers n{};
    n.entryNo = IntField(f[1], 1);
    if (IsSilenceKind(f[2])) {
        n.sourceChannel = 1;
        n.destChannel = IntField(f[3], 3);
    } else {
        n.sourceChannel = IntField(f[5], 5);
        n.destChannel = IntField(f[6], 6);
    }
    return n;
}

// The numbers of the event line at index `line`; a bad one's error names the line (from 1).
EventNumbers NumbersOfLine(const EventFields& fields, std::size_t line) {
    try {
        return NumbersOf(fields);
    } catch (TextError& e) {
        e.SetLine(line + 1);
        throw;
    }
}

// Sets every field of `e` from the line's fields. A silence line has no source: its track,
// times and rest stand where an audio line has its source fields.
void FillEvent(SongEvent& e, const EventFields& f, const EventNumbers& n) {
    AssignField(e.EntryTag, f[0], 0);
    e.EntryNo = n.entryNo;
    AssignField(e.EditKind, f[2], 2);
    e.SourceChannel = n.sourceChannel;
    e.DestChannel = n.destChannel;
    if (e.IsSilence()) {
        e.SourceType.clear();
        e.SourceFile.clear();
        e.SourceIn.clear();
        AssignField(e.DestIn, f[4], 4);
        AssignField(e.DestOut, f[5], 5);
        AssignField(e.Remainder, f[6], 6);
    } else {
        AssignField(e.SourceType, f[3], 3);
        AssignField(e.SourceFile, f[4], 4);
        AssignField(e.SourceIn, f[7], 7);
        AssignField(e.DestIn, f[8], 8);
        AssignField(e.DestOut, f[9], 9);
        e.Remainder.assign(f[10]);
    }
}

template <class LineList> bool EventListOf(const LineList& lines, SongEventTable& table) {
    // Only the first <EVENT_LIST> block is read; a later one would otherwise be taken for
    // events.
    std::size_t open = 0;
    while (open < lines.size() && TrimView(lines[open]) != kEventListTag)
        ++open;
    if (open == lines.size()) {
        table.EventCount = 0;
        return true;
    }
    // Count the block's lines, opening line included, the way a buffer of 10000 lines would
    // hold them: the limit is tested after each next line is taken and before it is compared.
    int stored = 0;
    std::size_t i = open;
    do {
        ++stored;
        ++i;
        const std::string_view next = LineOf(lines, i);
        if (stored == kEventBufferLines)
            return false;
        if (TrimView(next) == kEventListEnd)
            break;
    } while (true);

    const int count = stored - 1;
    if (table.Untouched()) {
        // Nothing in the table to keep: each row is filled as its line is read, and a bad
        // field unmakes the rows again, which leaves the table as it was.
        try {
            for (int r = 1; r <= count; ++r) {
                const std::size_t line = open + static_cast<std::size_t>(r);
                const EventFields fields = EventFieldsOf(lines[line]);
                FillEvent(table.Row(r), fields, NumbersOfLine(fields, line));
            }
        } catch (...) {
            table.UnmakeRows();
            throw;
        }
        table.EventCount = count;
        return true;
    }
    // Convert every number before touching the table, so a bad field leaves it as it was;
    // then fill the rows in place.
    std::vector<EventNumbers> numbers;
    numbers.reserve(static_cast<std::size_t>(count));
    for (std::size_t line = open + 1; line <= open + static_cast<std::size_t>(count); ++line)
        numbers.push_back(NumbersOfLine(EventFieldsOf(lines[line], kNumberFields), line));
    for (int r = 1; r <= count; ++r)
        FillEvent(table.Row(r), EventFieldsOf(lines[open + static_cast<std::size_t>(r)]),
                  numbers[static_cast<std::size_t>(r - 1)]);
    table.EventCount = count;
    return true;
}

} // namespace

std::array<std::string, 11> CutEventLine(const std::string& line) {
    const EventFields raw = EventFieldsOf(line);
    std::array<std::string, 11> fields;
    for (std::size_t k = 0; k < 10; ++k)
        AssignField(fields[k], raw[k], k);
    fields[10] = std::string(raw[10]);
    return fields;
}

template <class LineList> std::size_t EventListLineOf(const LineList& lines) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (TrimView(lines[i]) == kEventListTag)
            return i + 1;
    return 0;
}

std::size_t EventListLine(const Lines& lines) {
    return EventListLineOf(lines);
}

std::size_t EventListLine(const platform::TextLines& lines) {
    return EventListLineOf(lines);
}

bool ReadEventList(const Lines& lines, SongEventTable& table) {
    return EventListOf(lines, table);
}

bool ReadEventList(const platform::TextLines& lines, SongEventTable& table) {
    return EventListOf(lines, table);
}

} // namespace th
