// Edit-list readers on any text: lines, the sequence block and its frame rate, the export's
// scan, the event-line cut and the event list. The only exceptions allowed are the two the
// readers document. And whatever the export's scan accepts, an event the export appends is
// read back by the import: the export never writes a take the import cannot see.
#include "platform/Platform.h"
#include "song/Adl.h"
#include "song/Errors.h"
#include "song/SongEvent.h"
#include "song/Tc2w.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// Each run reuses one table: a fresh one is 9,999 rows.
th::SongEventTable& Table() {
    static th::SongEventTable table;
    return table;
}

// Reads the list as the import does; the event count, or -1 when it refuses or throws.
int ImportCount(const th::Lines& lines) {
    try {
        return th::ReadEventList(lines, Table()) ? Table().EventCount : -1;
    } catch (const th::ConvertError&) {
    } catch (const th::ListIndexError&) {
    }
    return -1;
}

// What reading a list gives: the refusal, the error, or every field of every event read.
template <class LineList> std::string Reading(const LineList& lines, th::SongEventTable& table) {
    try {
        if (!th::ReadEventList(lines, table))
            return "refused";
    } catch (const th::TextError& e) {
        return std::string("error: ") + e.what();
    }
    std::string all = std::to_string(table.EventCount);
    for (int r = 1; r <= table.EventCount; ++r) {
        const th::SongEvent& e = table.Row(r);
        for (const std::string_view field :
             {std::string_view(e.EntryTag), std::string_view(e.EditKind),
              std::string_view(e.SourceType), std::string_view(e.SourceFile), e.SourceIn.view(),
              e.DestIn.view(), e.DestOut.view(), std::string_view(e.Remainder)})
            (all += "|") += field;
        all += "|" + std::to_string(e.EntryNo) + "|" + std::to_string(e.SourceChannel) + "|" +
               std::to_string(e.DestChannel) + "\n";
    }
    return all;
}

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const th::Lines lines = platform::SplitLines(text);

    try {
        if (const auto sequence = th::ReadSequenceLines(lines))
            th::SampleRateFromSequence(*sequence);
    } catch (const th::ConvertError&) {
    } catch (const th::ListIndexError&) {
    }
    for (const std::string& line : lines) {
        th::FrameRateTextOfLine(line);
        th::CutEventLine(line);
    }

    // The import reads views of the text: they must read as the lines do. The table of views
    // is kept between runs, so a row refilled must lose every field of what it held.
    static th::SongEventTable fromViews;
    Check(Reading(lines, Table()) == Reading(platform::TextLines(text), fromViews),
          "the list reads otherwise as views of its text");

    const int oldCount = ImportCount(lines);
    const auto scan = th::ScanForExport(lines);
    if (!scan)
        return 0;
    const std::string zero = th::ZeroTimecode(44100, scan->frameRateText);
    Check(zero.size() == 16, "the scan gave a frame-rate text without a zero timecode");
    if (oldCount < 0 || scan->nextEntryNo > th::kMaxEvents)
        return 0; // the import refuses the list already, or a new event would be one too many

    // The list as the export rewrites it with one new event on track 3.
    std::string rewritten;
    for (std::size_t i = 0; i + 2 < lines.size(); ++i)
        rewritten += lines[i] + "\r\n";
    const std::string length = th::TTC2W().SamplesToTc(
        44100, 44100, th::FrameRateCode(scan->frameRateText), th::IsDropFrame(scan->frameRateText));
    rewritten += th::ComposeEventLine(scan->nextEntryNo, "ZT60001.WAV", 3, zero, length);
    rewritten += th::kClosingLines;

    const int newCount = ImportCount(platform::SplitLines(rewritten));
    Check(newCount == oldCount + 1, "the import does not read the appended event");
    const th::SongEvent& added = Table().Row(newCount);
    Check(added.SourceFile == "ZT60001.WAV" && added.DestChannel == 3 &&
              added.EntryNo == scan->nextEntryNo && added.DestOut == length,
          "the import reads another event than the appended one");
    return 0;
}
