#include "transfer/P2z.h"

#include "platform/Platform.h"
#include "song/Adl.h"
#include "song/Tc2w.h"
#include "transfer/WaveFile.h"

#include <cerrno>
#include <cstdio>
#include <limits>
#include <set>

namespace th {

namespace {

std::string TrackFile(const std::string& folder, int track) {
    return folder + "\\tr0" + std::to_string(track) + ".wav";
}

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
    const std::uint64_t total = TransferTotal();
    if (total > FreeBytes) {
        ui_.Message("File too large!\r\n\r\nZT-6:" + std::to_string(FreeBytes) +
                    "(available capacity inside ZT-6)\r\nWAVE:" + std::to_string(total) +
                    "(Total file size to transfer)");
        return false;
    }

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

bool TExportJob::CheckTrackFiles() {
    bool any = false;
    std::uint32_t rate = 0;
    std::uint16_t bits = 0;
    for (int n = 1; n <= 8; ++n) {
        if (!sel_.ExportSelected(n))
            continue;
        const std::string path = TrackFile(ComputerFolder, n);
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
    if (!any) {
        ui_.Message("Select a wave file!");
        return false;
    }
    ExportRate = static_cast<std::int32_t>(rate);
    return true;
}

std::uint64_t TExportJob::FreeCapacity() {
    return platform::FreeBytesAvailable(DeviceDrive).value_or(0);
}

std::uint64_t TExportJob::TransferTotal() {
    std::uint64_t total = 0;
    for (int n = 1; n <= 8; ++n)
        if (sel_.ExportSelected(n))
            total += FileLength(TrackFile(ComputerFolder, n)).value_or(0);
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
                          platform::RenameFile(tempPath, ListName(songFolder, AdlPath));
    if (!replaced) {
        // The list itself is what could not be rewritten.
        Explain(AdlPath, errno);
        // The old list stays; files it does not name would only fill the card.
        platform::DeleteFile(tempPath);
        for (const std::string& path : copiedFiles_)
            platform::DeleteFile(path);
        copiedFiles_.clear();
    }
    newList_.clear();

    if (!replaced || !allCopied) {
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

bool TExportJob::WriteNewList(const std::string& tempPath) {
    std::FILE* f = platform::OpenFile(tempPath, "wb");
    if (!f)
        return false;
    bool ok = platform::WriteFile(f, newList_.data(), newList_.size()) == newList_.size();
    ok = platform::FlushFile(f) && ok;
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
        const std::string name = std::string("zt6") + digits + ".wav";
        if (taken.count(UpperAscii(name)))
            continue;
        const std::string path = songFolder + "\\" + name;
        if (!platform::GetFileAttributes(path))
            return path;
    }
}

bool TExportJob::CopyTrackFile(const std::string& computerFolder, const std::string& songFolder,
                               int track) {
    const std::string source = TrackFile(computerFolder, track);
    const std::string devicePath = NextDeviceFile(songFolder);

    Failure why;
    std::unique_ptr<WaveReader> reader = OpenWaveData(source, &why);
    if (!reader) {
        Explain(why);
        return false;
    }
    DataSize = reader->DataSize();

    std::unique_ptr<WaveWriter> writer =
        CreateWaveFile(devicePath, static_cast<std::uint32_t>(sel_.SampleRate), &why);
    if (!writer) {
        Explain(why);
        return false;
    }

    const bool copied = CopyBlocks(*reader, *writer, DataSize, [&](std::uint32_t bytes) {
        copiedBytes_ += bytes;
        ui_.SetPosition(static_cast<std::uint32_t>(copiedBytes_ >> barShift_));
        return !OnBlockCopied || OnBlockCopied(track, bytes);
    });
    const bool closed = CloseWaveFile(*writer);
    if (!copied || !closed)
        Explain(devicePath, writer->Error());
    writer.reset();
    reader.reset();
    if (!copied || !closed) {
        platform::DeleteFile(devicePath);
        return false;
    }

    copiedFiles_.push_back(devicePath);
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
