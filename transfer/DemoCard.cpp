#include "transfer/DemoCard.h"

#include "platform/Platform.h"
#include "song/Adl.h"
#include "song/Tc2w.h"
#include "transfer/WaveFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace th {

namespace {

struct DemoTone {
    const char* file;    // device file name, lower case as the recorder writes it
    std::uint32_t hertz; // pitch of the tone
    SampleCount length;  // samples
};

// One event line: a cut when `file` is set, else a silence.
struct DemoEvent {
    const char* file;
    int track;
    SampleCount sourceIn;
    SampleCount destIn;
    SampleCount destOut;
};

struct DemoSongData {
    DemoSong song;
    std::vector<DemoTone> tones;
    std::vector<DemoEvent> events;
};

const std::vector<DemoSongData>& Songs() {
    static const std::vector<DemoSongData> songs = {
        {{"DEMO44K", 44100, "F25"},
         {{"zt60001.wav", 440, 88200}, {"zt60002.wav", 660, 66150}, {"zt60003.wav", 330, 132300}},
         {
             {"zt60001.wav", 1, 0, 22050, 110250},    // starts after a gap
             {"zt60002.wav", 1, 0, 132300, 198450},   // a second gap before it
             {"zt60003.wav", 2, 0, 0, 132300},        //
             {"zt60001.wav", 2, 22050, 44100, 88200}, // overlaps the event before it
             {"zt60002.wav", 3, 0, 0, 66150},         //
             {nullptr, 3, 0, 22050, 44100},           // silence inside that event
             {"zt60003.wav", 4, 44100, 88200, 176400},
         }},
        {{"DEMO22K", 22050, "F30df"},
         {{"zt60001.wav", 523, 44100}, {"zt60002.wav", 784, 22050}},
         {
             {"zt60001.wav", 1, 0, 0, 44100},
             {nullptr, 2, 0, 0, 11025},
             {"zt60002.wav", 2, 0, 11025, 33075},
             {"zt60002.wav", 1, 0, 22050, 44100}, // overlaps the first event
         }},
    };
    return songs;
}

// A sine tone in integer arithmetic (Bhaskara's approximation), so the bytes are the same
// on every machine, with short fades against clicks.
std::string ToneBytes(const DemoTone& tone, std::uint32_t rate) {
    constexpr std::int64_t kAmplitude = 8000;
    const std::uint32_t step =
        static_cast<std::uint32_t>((static_cast<std::uint64_t>(tone.hertz) << 32) / rate);
    const SampleCount ramp = rate / 200; // 5 ms
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(tone.length) * 2);
    std::uint32_t phase = 0;
    for (SampleCount n = 0; n < tone.length; ++n, phase += step) {
        const std::int64_t u = (phase >> 16) & 0x7fff; // 0..32767 over half a period
        const std::int64_t v = 32768 - u;
        std::int64_t s = kAmplitude * 16 * u * v / (5LL * 32768 * 32768 - 4 * u * v);
        if (phase & 0x80000000u)
            s = -s;
        const SampleCount edge = std::min(n, tone.length - 1 - n);
        if (edge < ramp)
            s = s * edge / ramp;
        const auto word = static_cast<std::uint16_t>(static_cast<std::int16_t>(s));
        bytes.push_back(static_cast<char>(word & 0xff));
        bytes.push_back(static_cast<char>(word >> 8));
    }
    return bytes;
}

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string EventLine(int entryNo, const DemoEvent& e, const DemoSong& song) {
    TTC2W tc;
    const int code = FrameRateCode(song.frameRate);
    const bool drop = IsDropFrame(song.frameRate);
    auto time = [&](SampleCount s) { return tc.SamplesToTc(s, song.sampleRate, code, drop); };
    char number[16];
    std::snprintf(number, sizeof number, "%04d", entryNo);
    std::string line = std::string("\t\t(Entry)\t") + number;
    if (e.file) {
        line += "\t(Cut)\tF\t\"" + Upper(e.file) + "\"\t1\t" + std::to_string(e.track) + "\t" +
                time(e.sourceIn) + "\t";
    } else {
        line += "\t(Silence)\t" + std::to_string(e.track) + "\t";
    }
    return line + time(e.destIn) + "\t" + time(e.destOut) + "\t_\r\n";
}

std::string AdlText(const DemoSongData& data) {
    const DemoSong& song = data.song;
    const int code = FrameRateCode(song.frameRate);
    const std::string zero =
        TTC2W().SamplesToTc(0, song.sampleRate, code, IsDropFrame(song.frameRate));
    std::string t;
    t += "<ADL>\r\n";
    t += "\t<VERSION>\r\n";
    t += "\t\t(ADL_ID)\t\"Trackhaul demo card\"\r\n";
    t += "\t\t(VER_ADL_VERSION)\t01.00\r\n";
    t += "\t</VERSION>\r\n";
    t += "\t<PROJECT>\r\n";
    t += "\t\t(PROJ_TITLE)\t\"" + song.name + "\"\r\n";
    t += "\t</PROJECT>\r\n";
    t += "\t<SEQUENCE>\r\n";
    // Line 1: a 17-character keyword, blanks, "S" and the rate; line 5: 19 characters of
    // indentation and keyword, then the start timecode whose separators give the frame rate.
    t += "\t\t(SEQ_SAMPLE_RATE) S" + std::to_string(song.sampleRate) + "\r\n";
    t += "\t\t(SEQ_FRAME_RATE) " + std::to_string(code) + "\r\n";
    t += "\t\t(SEQ_ADL_LEVEL) 1\r\n";
    t += "\t\t(SEQ_CLEAN) FALSE\r\n";
    t += "\t(SEQ_DEST_START)  " + zero + "\r\n";
    t += "\t</SEQUENCE>\r\n";
    t += "\t<EVENT_LIST>\r\n";
    int entryNo = 1;
    for (const DemoEvent& e : data.events)
        t += EventLine(entryNo++, e, song);
    t += "\t</EVENT_LIST>\r\n";
    t += "</ADL>\r\n";
    return t;
}

} // namespace

const std::vector<DemoSong>& DemoSongs() {
    static const std::vector<DemoSong> songs = [] {
        std::vector<DemoSong> list;
        for (const DemoSongData& d : Songs())
            list.push_back(d.song);
        return list;
    }();
    return songs;
}

void WriteDemoCard(const std::string& nativeFolder) {
    namespace fs = std::filesystem;
    const fs::path root = fs::absolute(platform::PathFromUtf8(nativeFolder)).lexically_normal();
    for (const DemoSongData& data : Songs()) {
        const fs::path songFolder = root / platform::PathFromUtf8(data.song.name);
        fs::create_directories(songFolder);
        const std::string drivePath = platform::ToDrivePath(platform::Utf8FromPath(songFolder));
        if (drivePath.empty())
            throw std::runtime_error("no drive holds " + platform::Utf8FromPath(songFolder));
        for (const DemoTone& tone : data.tones) {
            const std::string path = drivePath + "\\" + tone.file;
            auto out = CreateWaveFile(path, static_cast<std::uint32_t>(data.song.sampleRate));
            const std::string audio =
                ToneBytes(tone, static_cast<std::uint32_t>(data.song.sampleRate));
            if (!out || !out->Write(audio.data(), audio.size()) || !CloseWaveFile(*out))
                throw std::runtime_error("can't write " +
                                         platform::Utf8FromPath(songFolder / tone.file));
        }
        const fs::path adl = songFolder / (data.song.name + ".ADL");
        std::ofstream file(adl, std::ios::binary | std::ios::trunc);
        const std::string text = AdlText(data);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        file.close();
        if (!file)
            throw std::runtime_error("can't write " + platform::Utf8FromPath(adl));
    }
}

} // namespace th
