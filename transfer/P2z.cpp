#include "transfer/P2z.h"

#include "platform/Platform.h"
#include "song/Adl.h"
#include "song/Tc2w.h"
#include "transfer/WaveFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <set>

namespace th {

namespace {

std::string TrackFile(const std::string& folder, int track) {
    return folder + "\\tr0" + std::to_string(track) + ".wav";
}

// Most audio bytes a take may hold: its "RIFF" size (38 + N + pad) must fit 32 bits.
constexpr std::uint64_t kMaxTakeBytes = 0xFFFFFFFFu - 38u - 1u;

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The bare file name of a device path "E:\\Song\\zt60001.wav" in capitals: drive and song
// folder removed.
std::string EventFileName(const std::string& devicePath) {
    std::string name = devicePath.size() > 3 ? devicePath.substr(3) : std::string();
    const std::size_t slash = name.find('\\');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    return UpperAscii(name);
}

// The list's path under the name it has on the card (`entries` are the song folder's): renamed
// onto a name that differs only in letter case, the old file would be removed in a second step
// instead of being replaced.
std::string ListName(const std::string& songFolder, const std::string& adlPath,
                     const std::vector<std::string>& entries) {
    const std::string wanted = UpperAscii(adlPath.substr(songFolder.size() + 1));
    for (const std::string& name : entries)
        if (UpperAscii(name) == wanted)
            return songFolder + "\\" + name;
    return adlPath;
}

// The names in a folder, in one pass and without the attributes of each entry, which a card in
// a reader answers with one request per entry: a song may hold hundreds of takes.
std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    const std::string native = platform::NativePath(folder);
    if (native.empty())
        return names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(platform::PathFromUtf8(native), ec), end;
         !ec && it != end; it.increment(ec))
        names.push_back(platform::Utf8FromPath(it->path().filename()));
    return names;
}

// "ZT6" and digits, in capitals: the name of a device file without its extension.
bool IsDeviceBase(const std::string& upper) {
    return upper.size() > 3 && upper.compare(0, 3, "ZT6") == 0 &&
           upper.find_first_not_of("0123456789", 3) == std::string::npos;
}

bool IsDeviceWave(const std::string& upper) {
    return upper.size() > 4 && upper.compare(upper.size() - 4, 4, ".WAV") == 0 &&
           IsDeviceBase(upper.substr(0, upper.size() - 4));
}

// Every text between double quotes on the lines, in capitals: the file names a list gives
// (and, harmlessly, any other quoted text).
std::set<std::string> QuotedNames(const std::vector<std::string>& lines) {
    std::set<std::string> names;
    for (const std::string& line : lines) {
        std::size_t open = line.find('"');
        while (open != std::string::npos) {
            const std::size_t close = line.find('"', open + 1);
            if (close == std::string::npos)
                break;
            names.insert(UpperAscii(line.substr(open + 1, close - open - 1)));
            open = line.find('"', close + 1);
        }
    }
    return names;
}

// The first free device file name among `taken` (names in capitals), with or without
// extension.
std::string FirstFreeDeviceName(const std::set<std::string>& taken) {
    for (unsigned k = 1;; ++k) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%04u", k);
        const std::string base = std::string("zt6") + digits;
        if (!taken.count(UpperAscii(base + ".wav")) && !taken.count(UpperAscii(base)))
            return base + ".wav";
    }
}

std::set<std::string> UpperNames(const std::vector<std::string>& entries) {
    std::set<std::string> names;
    for (const std::string& name : entries)
        names.insert(UpperAscii(name));
    return names;
}

// "track 2", "tracks 1, 3".
std::string TrackList(const std::vector<int>& tracks) {
    std::string text = tracks.size() == 1 ? "track " : "tracks ";
    for (std::size_t i = 0; i < tracks.size(); ++i)
        text += (i ? ", " : "") + std::to_string(tracks[i]);
    return text;
}

} // namespace

TExportJob::TExportJob(TransferUi& ui, Selection& sel) : ui_(ui), sel_(sel) {}

bool TExportJob::RunExport() {
    ComputerFolder = sel_.DestFolder;
    DeviceDrive = sel_.DriveRoot;

    if (!ui_.Ask("PC to ZT-6\r\n\r\n" + platform::DisplayPath(ComputerFolder + "\\tr(TrNo).wav")))
        return false;

    const std::string song = sel_.SongName();
    if (platform::DirectoryExists(DeviceDrive + "\\" + song) &&
        !ui_.Ask("Overwrite " + song + "? (Can't cancel.)"))
        return false;

    AdlPath = DeviceDrive + "\\" + song + "\\" + song + ".ADL";
    if (!platform::FileExists(AdlPath)) {
        ui_.Report("This drive isn't ZT-6.", {AdlPath, SystemReason(ENOENT)});
        return false;
    }

    if (!CheckTrackFiles())
        return false;

    if (platform::IsReadOnly(AdlPath)) {
        ui_.Report("This song is Protected.", {AdlPath, "The edit list is read-only"});
        return false;
    }

    errno = 0;
    const std::optional<std::uint64_t> free = FreeCapacity();
    if (!free) {
        // Without a free count the check below would refuse every run with "ZT-6:0".
        const int error = errno;
        ui_.Report("Can't read the free space of the ZT-6 drive.",
                   {DeviceDrive, error != 0 ? SystemReason(error)
                                            : "The file system reports no size and no free space"});
        return false;
    }
    FreeBytes = *free;
    const std::uint64_t required = RequiredCapacity();
    if (required > FreeBytes) {
        ui_.Message("File too large!\r\n\r\nZT-6:" + std::to_string(FreeBytes) +
                    "(available capacity inside ZT-6)\r\nWAVE:" + std::to_string(required) +
                    "(Total file size to transfer)");
        return false;
    }
    const std::uint64_t total = TransferTotal();

    // The bar takes 32-bit values: halve the units until the total fits.
    barShift_ = 0;
    while ((total >> barShift_) > std::numeric_limits<std::uint32_t>::max())
        ++barShift_;
    ui_.SetMax(static_cast<std::uint32_t>(total >> barShift_));
    ui_.SetPosition(0);
    ui_.ShowProgress();

    const bool ok = RewriteEventList();

    sel_.TransferEnabled = true;
    return ok;
}

std::string TExportJob::SourceFile(int track) const {
    const std::string& chosen = TrackSources[static_cast<std::size_t>(track - 1)];
    return chosen.empty() ? TrackFile(ComputerFolder, track) : chosen;
}

std::string TExportJob::ConvertQuestion(const std::string& path, const AudioFormat& format,
                                        std::int32_t songRate) {
    const std::size_t slash = path.find_last_of('\\');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name + ": " + FormatText(format) + ". Convert it to " + std::to_string(songRate) +
           " Hz, 16-bit mono for the song?";
}

bool TExportJob::DecideConversion(int track, const std::string& path, bool& checked) {
    checked = true;
    // A song without a rate to convert to keeps the checks of a copy, which refuse the file.
    if (Convert == ConvertMode::Never ||
        sel_.SampleRate < static_cast<std::int32_t>(kMinConvertRate) ||
        sel_.SampleRate > static_cast<std::int32_t>(kMaxConvertRate))
        return true;
    const auto songRate = static_cast<std::uint32_t>(sel_.SampleRate);
    Failure why;
    const std::optional<AudioFormat> format = ReadAudioFormat(path, &why);
    if (!format) {
        // Asked to convert, a file that can't be read is refused as one that is no WAV file;
        // without the question's answer the checks of a copy decide.
        if (Convert == ConvertMode::Always)
            ui_.Report("", why);
        return Convert != ConvertMode::Always;
    }
    if (IsSongFormat(*format, songRate))
        return true;
    if (Convert == ConvertMode::Ask) {
        const TransferUi::Answer answer =
            ui_.AskYesNoCancel(ConvertQuestion(path, *format, sel_.SampleRate));
        if (answer == TransferUi::Answer::Cancel)
            return false;
        if (answer == TransferUi::Answer::No)
            return true;
    }
    const ConvertPlan plan = PlanConversion(*format, ReadDataSize(path).value_or(0), songRate);
    if (plan.DataBytes() > kMaxTakeBytes) {
        ui_.Report("", {path, "Converted, the audio would not fit a WAV file (4 GB)"});
        return false;
    }
    plans_[static_cast<std::size_t>(track - 1)] = plan;
    checked = false;
    return true;
}

bool TExportJob::CheckTrackFiles() {
    bool any = false;      // a file went through the checks of a copy
    bool selected = false; // a track is selected
    std::uint32_t rate = 0;
    std::uint16_t bits = 0;
    plans_ = {};
    for (int n = 1; n <= 8; ++n) {
        if (!sel_.ExportSelected(n))
            continue;
        selected = true;
        const std::string path = SourceFile(n);
        Failure why;
        const auto info = ReadWaveFormat(path, &why);
        if (!info) {
            // No message of its own: the file and the reason are all there is to tell.
            ui_.Report("", why);
            return false;
        }
        // Audio that the file announces but does not hold would reach the card as silence.
        if (const auto reader = OpenWaveData(path); reader && reader->Truncated()) {
            ui_.Report("", {path, kReasonShortFile});
            return false;
        }
        bool checked = true;
        if (!DecideConversion(n, path, checked))
            return false;
        if (!checked)
            continue;
        const WaveFormatRecord& f = info->format;
        const std::string hz = std::to_string(f.samplesPerSec) + " Hz";
        if (!any) {
            if (static_cast<std::int64_t>(f.samplesPerSec) != sel_.SampleRate) {
                ui_.Report("Sampling Frequency not matched!",
                           {path, "The file is at " + hz + ", the song at " +
                                      std::to_string(sel_.SampleRate) + " Hz"});
                return false;
            }
            if (f.bitsPerSample != 16) {
                ui_.Report("Bit digit not matched!",
                           {path, std::to_string(f.bitsPerSample) + " bits, not 16"});
                return false;
            }
            rate = f.samplesPerSec;
            bits = f.bitsPerSample;
            any = true;
        }
        if (f.samplesPerSec != rate) {
            ui_.Report("Sampling Frequency not matched!",
                       {path, "The file is at " + hz + ", the first file at " +
                                  std::to_string(rate) + " Hz"});
            return false;
        }
        if (f.bitsPerSample != bits) {
            ui_.Report("Bit digit not matched!",
                       {path, std::to_string(f.bitsPerSample) + " bits, the first file " +
                                  std::to_string(bits)});
            return false;
        }
        if (f.channels != 1) {
            ui_.Report("Stereo .wav file not acceptable!",
                       {path, std::to_string(f.channels) + " channels, not 1"});
            return false;
        }
    }
    if (!selected) {
        ui_.Message("Select a wave file!");
        return false;
    }
    // Converted files take the song's rate, which a copied one has too.
    ExportRate = any ? static_cast<std::int32_t>(rate) : sel_.SampleRate;
    return true;
}

std::optional<std::uint64_t> TExportJob::FreeCapacity() {
    return platform::FreeBytesAvailable(DeviceDrive);
}

std::uint64_t TExportJob::AllocationUnit() {
    return platform::AllocationUnit(DeviceDrive).value_or(1);
}

std::uint64_t TExportJob::RequiredCapacity() {
    const std::uint64_t unit = std::max<std::uint64_t>(AllocationUnit(), 1);
    const auto rounded = [unit](std::uint64_t bytes) { return (bytes + unit - 1) / unit * unit; };

    // The new list: the old one without its closing lines, with CR LF line ends, one event
    // line per track and the closing lines. Timecodes are 16 characters; device file names
    // are as long as the next free one.
    const std::optional<std::string> text = platform::ReadWholeFile(AdlPath);
    const Lines lines = text ? platform::SplitLines(*text) : Lines();
    const std::optional<ExportScan> scan = ScanForExport(lines);
    int entryNo = scan ? scan->nextEntryNo : 1;
    std::uint64_t listBytes = kClosingLines.size();
    for (std::size_t i = 0; i + 2 < lines.size(); ++i)
        listBytes += lines[i].size() + 2;

    std::uint64_t total = 0;
    const std::string tc(16, '0');
    const std::string name = EventFileName(NextDeviceFile(DeviceDrive + "\\" + sel_.SongName()));
    for (int n = 1; n <= 8; ++n) {
        if (!sel_.ExportSelected(n))
            continue;
        const auto& plan = plans_[static_cast<std::size_t>(n - 1)];
        const std::uint64_t data =
            plan ? plan->DataBytes() : ReadDataSize(SourceFile(n)).value_or(0);
        total += rounded(46 + data + (data & 1u));
        listBytes += ComposeEventLine(entryNo++, name, n, tc, tc).size();
    }
    return total + rounded(listBytes);
}

std::uint64_t TExportJob::TransferTotal() {
    std::uint64_t total = 0;
    for (int n = 1; n <= 8; ++n)
        if (sel_.ExportSelected(n))
            total += FileLength(SourceFile(n)).value_or(0);
    return total;
}

bool TExportJob::RewriteEventList() {
    const Lines lines = platform::LoadLines(AdlPath);

    // Everything that could make the new list unwritable is checked before the card changes.
    ScanError scanError = ScanError::None;
    const std::optional<ExportScan> scan = ScanForExport(lines, &scanError);
    if (!scan || ZeroTimecode(ExportRate, scan->frameRateText).empty()) {
        ui_.Report("Error!", {AdlPath, scan ? "No timecode can be written at " +
                                                  std::to_string(ExportRate) + " Hz"
                                            : ScanErrorText(scanError)});
        return false;
    }
    int tracks = 0;
    for (int n = 1; n <= 8; ++n)
        tracks += sel_.ExportSelected(n) ? 1 : 0;
    // The import reads at most kMaxEvents events: more would hide the new ones from it.
    if (scan->nextEntryNo - 1 + tracks > kMaxEvents) {
        ui_.Report("Error!", {AdlPath, "The list would hold more than " +
                                           std::to_string(kMaxEvents) + " events"});
        return false;
    }
    FrameRateText = scan->frameRateText;
    NextEntryNo = scan->nextEntryNo;

    newList_.clear();
    for (std::size_t i = 0; i + 2 < lines.size(); ++i) {
        newList_ += lines[i];
        newList_ += "\r\n";
    }
    copiedFiles_.clear();
    copiedBytes_ = 0;
    addedTracks_.clear();
    failedTracks_.clear();
    Why = {};

    const std::string song = sel_.SongName();
    const std::string songFolder = DeviceDrive + "\\" + song;
    const std::vector<std::string> entries = RemoveLeftovers(songFolder, song, lines);
    taken_ = UpperNames(entries);
    listed_ = true;
    const std::string listPath = ListName(songFolder, AdlPath, entries);
    bool allCopied = true;
    for (int n = 1; n <= 8; ++n) {
        if (!sel_.ExportSelected(n))
            continue;
        ui_.SetLabel("Track" + std::to_string(n));
        const bool copied = CopyTrackFile(ComputerFolder, songFolder, n);
        (copied ? addedTracks_ : failedTracks_).push_back(n);
        allCopied = allCopied && copied;
    }
    listed_ = false;
    taken_.clear();
    newList_ += kClosingLines;

    // The extension stays ".tmp" so that song selection never takes it for the list.
    const std::string tempPath = songFolder + "\\" + song + ".ADL.tmp";
    errno = 0;
    const bool replaced = WriteNewList(tempPath) && (!BeforeReplace || BeforeReplace()) &&
                          PutNewFilesInPlace(songFolder, tempPath, listPath);
    if (!replaced) {
        // The list itself is what could not be rewritten.
        Explain(AdlPath, errno);
        // The old list stays; files it does not name would only fill the card.
        platform::DeleteFile(tempPath);
        RemoveCopiedFiles();
    }
    newList_.clear();
    copiedFiles_.clear();

    // The new list is in place; until the folder is on the card it may still be lost.
    errno = 0;
    const bool onCard = replaced && platform::SyncDirectory(songFolder);
    if (replaced && !onCard)
        Explain(songFolder, errno);
    if (!onCard || !allCopied) {
        ui_.Report("Copy failed!", CopyFailedDetail(replaced, onCard));
        return false;
    }
    ui_.FileWritten(AdlPath);
    return true;
}

void TExportJob::Explain(const Failure& why) {
    if (Why.reason.empty())
        Why = why;
}

void TExportJob::Explain(const std::string& file, int error) {
    Explain(Failure{file, SystemReason(error != 0 ? error : EIO)});
}

Failure TExportJob::CopyFailedDetail(bool replaced, bool onCard) const {
    // A retry must not add the tracks that arrived a second time: say which did.
    Failure detail = Why;
    if (!replaced || addedTracks_.empty())
        return detail;
    if (!onCard) {
        detail.reason +=
            ". The new list and " + TrackList(addedTracks_) + " are probably on the card";
    } else {
        detail.reason += ". Added to the song: " + TrackList(addedTracks_);
        if (!failedTracks_.empty())
            detail.reason += "; not added: " + TrackList(failedTracks_);
    }
    return detail;
}

bool TExportJob::PutNewFilesInPlace(const std::string& songFolder, const std::string& tempPath,
                                    const std::string& listPath) {
    // Every file is on the card, then takes its final name just before the list that names
    // it, and the names are on the card before the list is: a list never names a missing or
    // unfinished file.
    for (const DeviceFile& file : copiedFiles_)
        if (!platform::SyncPath(file.partPath))
            return false;
    // The new list is the record of the names this run gives: its entry is on the card
    // before the first of them, so that a run killed from here on can be rolled back.
    if (!copiedFiles_.empty() && !platform::SyncDirectory(songFolder))
        return false;
    for (const DeviceFile& file : copiedFiles_)
        if (!platform::RenameFile(file.partPath, file.finalPath))
            return false;
    if (!copiedFiles_.empty() && !platform::SyncDirectory(songFolder))
        return false;
    return platform::RenameFile(tempPath, listPath);
}

void TExportJob::RemoveCopiedFiles() {
    // Either name may be the current one; the final name was free when it was chosen.
    for (const DeviceFile& file : copiedFiles_) {
        platform::DeleteFile(file.partPath);
        platform::DeleteFile(file.finalPath);
    }
}

bool TExportJob::WriteNewList(const std::string& tempPath) {
    std::FILE* f = platform::OpenFile(tempPath, "wb");
    if (!f)
        return false;
    bool ok = platform::WriteFile(f, newList_.data(), newList_.size()) == newList_.size();
    ok = platform::SyncFile(f) && ok;
    ok = platform::CloseFile(f) && ok;
    return ok;
}

std::string TExportJob::NextDeviceFile(const std::string& songFolder) {
    return songFolder + "\\" + FirstFreeDeviceName(UpperNames(FolderNames(songFolder)));
}

std::string TExportJob::TakeDeviceFile(const std::string& songFolder) {
    // One listing per run, not one search of the card per number: a song may hold hundreds
    // of files, and the card holds nothing but what this run and the listing say.
    if (!listed_) {
        taken_ = UpperNames(FolderNames(songFolder));
        listed_ = true;
    }
    return songFolder + "\\" + FirstFreeDeviceName(taken_);
}

std::vector<std::string> TExportJob::RemoveLeftovers(const std::string& songFolder,
                                                     const std::string& song,
                                                     const std::vector<std::string>& songList) {
    const std::string staleName = UpperAscii(song + ".ADL.tmp");
    const std::vector<std::string> entries = FolderNames(songFolder);
    const std::string* stale = nullptr;
    for (const std::string& name : entries)
        if (UpperAscii(name) == staleName)
            stale = &name;

    // Only a complete list can have been synced before the renames; a partial one names
    // nothing that took its ".wav" name. (A folder of that name reads as nothing.)
    std::set<std::string> renamedByKilledRun;
    if (stale) {
        const std::optional<std::string> text = platform::ReadWholeFile(songFolder + "\\" + *stale);
        if (text && text->size() >= kClosingLines.size() &&
            text->compare(text->size() - kClosingLines.size(), kClosingLines.size(),
                          kClosingLines) == 0) {
            const std::set<std::string> kept = QuotedNames(songList);
            for (const std::string& name : QuotedNames(platform::SplitLines(*text)))
                if (IsDeviceWave(name) && !kept.count(name))
                    renamedByKilledRun.insert(name);
        }
    }

    // DeleteFile leaves folders and read-only files alone: those stay.
    std::vector<std::string> left;
    bool rolledBack = false;
    for (const std::string& entry : entries) {
        const std::string name = UpperAscii(entry);
        if ((IsDeviceBase(name) || renamedByKilledRun.count(name)) &&
            platform::DeleteFile(songFolder + "\\" + entry)) {
            rolledBack = rolledBack || renamedByKilledRun.count(name) != 0;
            continue;
        }
        if (&entry != stale)
            left.push_back(entry);
    }
    // The record goes only when the files it names are gone from the card.
    if (stale) {
        if (rolledBack)
            platform::SyncDirectory(songFolder);
        if (!platform::DeleteFile(songFolder + "\\" + *stale))
            left.push_back(*stale);
    }
    return left;
}

bool TExportJob::CopyTrackFile(const std::string& computerFolder, const std::string& songFolder,
                               int track) {
    const std::string& chosen = TrackSources[static_cast<std::size_t>(track - 1)];
    const std::string source = chosen.empty() ? TrackFile(computerFolder, track) : chosen;
    const std::string devicePath = TakeDeviceFile(songFolder);
    const std::string partPath = devicePath.substr(0, devicePath.size() - 4);

    Failure why;
    std::unique_ptr<WaveReader> reader = OpenWaveData(source, &why);
    if (!reader) {
        Explain(why);
        return false;
    }
    DataSize = reader->DataSize();

    std::unique_ptr<WaveWriter> writer =
        CreateWaveFile(partPath, static_cast<std::uint32_t>(sel_.SampleRate), &why);
    if (!writer) {
        // The user knows the file by the name it is given.
        if (why.file == partPath)
            why.file = devicePath;
        Explain(why);
        return false;
    }

    const auto afterBlock = [&](std::uint32_t bytes) {
        copiedBytes_ += bytes;
        ui_.SetPosition(static_cast<std::uint32_t>(copiedBytes_ >> barShift_));
        return !OnBlockCopied || OnBlockCopied(track, bytes);
    };
    // A source that shrinks under the copy fails it: the card gets no invented silence.
    const auto& plan = plans_[static_cast<std::size_t>(track - 1)];
    std::string reason;
    const bool copied =
        plan ? ConvertAudio(*reader, *writer, *plan, DitherSeed(*reader), afterBlock, &reason)
             : CopyBlocks(*reader, *writer, DataSize, afterBlock, ShortSource::Fails);
    if (plan)
        DataSize = static_cast<std::uint32_t>(plan->DataBytes());
    if (!reason.empty())
        Explain({source, reason});
    // The card writes this file while the next one is copied; the run waits for it before
    // the list names it.
    const bool closed = CloseWaveFile(*writer, /*writeBack=*/true);
    if (!copied || !closed)
        Explain(devicePath, writer->Error());
    writer.reset();
    reader.reset();
    if (!copied || !closed) {
        platform::DeleteFile(partPath);
        return false;
    }

    copiedFiles_.push_back({partPath, devicePath});
    taken_.insert(UpperAscii(devicePath.substr(songFolder.size() + 1)));
    ui_.FileWritten(devicePath);
    AppendEventLine(track, devicePath);
    ++NextEntryNo;
    return true;
}

void TExportJob::AppendEventLine(int track, const std::string& devicePath) {
    const SampleCount samples = DataSize / 2;
    const int code = FrameRateCode(FrameRateText);
    const bool drop = IsDropFrame(FrameRateText);
    const std::string length = TTC2W().SamplesToTc(samples, ExportRate, code, drop);
    const std::string zero = ZeroTimecode(ExportRate, FrameRateText);
    newList_ += ComposeEventLine(NextEntryNo, EventFileName(devicePath), track, zero, length);
}

bool RunExportFromButton(TExportJob& job, TransferUi& ui, const std::function<void()>& complete) {
    ui.SetMin(0);
    ui.SetPosition(0);
    ui.SetMax(0);
    ui.SetCancelEnabled(false);
    struct Restore {
        TransferUi& ui;
        ~Restore() {
            ui.SetCancelEnabled(true);
            ui.CloseProgress();
        }
    } restore{ui};
    const bool ok = job.RunExport();
    if (ok && complete)
        complete();
    return ok;
}

} // namespace th
