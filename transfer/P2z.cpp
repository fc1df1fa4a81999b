#include "transfer/P2z.h"

#include "platform/Platform.h"
#include "song/Adl.h"
#include "song/Tc2w.h"
#include "transfer/WaveFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
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

// The list's path under the name it has on the card: renamed onto a name that differs only in
// letter case, the old file would be removed in a second step instead of being replaced.
std::string ListName(const std::string& songFolder, const std::string& adlPath) {
    const std::string wanted = UpperAscii(adlPath.substr(songFolder.size() + 1));
    for (const platform::DirEntry& e : platform::ListDirectory(songFolder + "\\*.*"))
        if (UpperAscii(e.name) == wanted)
            return songFolder + "\\" + e.name;
    return adlPath;
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

    FreeBytes = FreeCapacity();
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

std::uint64_t TExportJob::FreeCapacity() {
    return platform::FreeBytesAvailable(DeviceDrive).value_or(0);
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
    Why = {};

    const std::string song = sel_.SongName();
    const std::string songFolder = DeviceDrive + "\\" + song;
    RemoveLeftovers(songFolder, song);
    bool allCopied = true;
    for (int n = 1; n <= 8; ++n) {
        if (!sel_.ExportSelected(n))
            continue;
        ui_.SetLabel("Track" + std::to_string(n));
        if (!CopyTrackFile(ComputerFolder, songFolder, n))
            allCopied = false;
    }
    newList_ += kClosingLines;

    // The extension stays ".tmp" so that song selection never takes it for the list.
    const std::string tempPath = songFolder + "\\" + song + ".ADL.tmp";
    errno = 0;
    const bool replaced = WriteNewList(tempPath) && (!BeforeReplace || BeforeReplace()) &&
                          PutNewFilesInPlace(songFolder, tempPath);
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
        ui_.Report("Copy failed!", Why);
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

bool TExportJob::PutNewFilesInPlace(const std::string& songFolder, const std::string& tempPath) {
    // Every file is on the card, then takes its final name just before the list that names
    // it, and the names are on the card before the list is: a list never names a missing or
    // unfinished file.
    for (const DeviceFile& file : copiedFiles_)
        if (!platform::SyncPath(file.partPath))
            return false;
    for (const DeviceFile& file : copiedFiles_)
        if (!platform::RenameFile(file.partPath, file.finalPath))
            return false;
    if (!copiedFiles_.empty() && !platform::SyncDirectory(songFolder))
        return false;
    return platform::RenameFile(tempPath, ListName(songFolder, AdlPath));
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
    // One listing per file instead of one lookup per number: a song may hold many files.
    std::set<std::string> taken;
    for (const platform::DirEntry& e : platform::ListDirectory(songFolder + "\\*.*"))
        taken.insert(UpperAscii(e.name));
    for (unsigned k = 1;; ++k) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%04u", k);
        const std::string base = std::string("zt6") + digits;
        if (taken.count(UpperAscii(base + ".wav")) || taken.count(UpperAscii(base)))
            continue;
        const std::string path = songFolder + "\\" + base;
        if (!platform::GetFileAttributes(path + ".wav") && !platform::GetFileAttributes(path))
            return path + ".wav";
    }
}

void TExportJob::RemoveLeftovers(const std::string& songFolder, const std::string& song) {
    const std::string stale = UpperAscii(song + ".ADL.tmp");
    for (const platform::DirEntry& e : platform::ListDirectory(songFolder + "\\*.*")) {
        if (e.attributes & platform::AttrDirectory)
            continue;
        const std::string name = UpperAscii(e.name);
        const bool unfinished = name.size() > 3 && name.compare(0, 3, "ZT6") == 0 &&
                                name.find_first_not_of("0123456789", 3) == std::string::npos;
        if (unfinished || name == stale)
            platform::DeleteFile(songFolder + "\\" + e.name);
    }
}

bool TExportJob::CopyTrackFile(const std::string& computerFolder, const std::string& songFolder,
                               int track) {
    const std::string& chosen = TrackSources[static_cast<std::size_t>(track - 1)];
    const std::string source = chosen.empty() ? TrackFile(computerFolder, track) : chosen;
    const std::string devicePath = NextDeviceFile(songFolder);
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
