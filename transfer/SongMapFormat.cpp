#include "transfer/SongMapFormat.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

namespace th {

namespace {

std::string Entry(std::int32_t entryNo) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", entryNo);
    return text;
}

std::string Pad(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string EventName(const MapEvent& e) {
    return e.silence ? "(Silence)" : e.sourceFile;
}

// The event as the table names it: a take whose file is not in the song folder says so.
std::string TableName(const MapEvent& e) {
    return e.missing ? EventName(e) + " missing" : EventName(e);
}

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (char ch : AsUtf8(text)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

// Text for an XML attribute or element; characters XML 1.0 does not allow are dropped.
std::string XmlText(const std::string& text) {
    std::string out;
    for (char ch : AsUtf8(text)) {
        switch (ch) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            if (static_cast<unsigned char>(ch) >= 0x20 || ch == '\t' || ch == '\n')
                out += ch;
        }
    }
    return out;
}

std::string Colour(std::uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06x", static_cast<unsigned>(rgb & 0xFFFFFF));
    return text;
}

std::string Num(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    std::string s = text;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

// Lane layout in pixels: a box band for what plays, a narrow band below for what doesn't.
constexpr double kLaneHeight = 44;
constexpr double kPlayHeight = 28;

// A waveform as one path of vertical strokes, one per peak, across [x, x + width), centred
// on `mid`, full scale reaching `half` pixels up and down.
std::string WavePath(const std::vector<Peak>& peaks, double x, double width, double mid,
                     double half) {
    if (peaks.empty())
        return {};
    std::ostringstream d;
    const double step = width / static_cast<double>(peaks.size());
    for (std::size_t i = 0; i < peaks.size(); ++i) {
        const double px = x + (static_cast<double>(i) + 0.5) * step;
        const double top = mid - peaks[i].max * half / 32768.0;
        // At least half a pixel, so that quiet parts still show a line.
        const double bottom = std::max(mid - peaks[i].min * half / 32768.0, top + 0.5);
        d << "M" << Num(px) << " " << Num(top) << "V" << Num(bottom);
    }
    std::ostringstream out;
    out << "<path class=\"wave\" d=\"" << d.str()
        << "\" stroke=\"#1a1a1a\" stroke-opacity=\"0.75\" stroke-width=\""
        << Num(std::min(1.0, step)) << "\" fill=\"none\"/>";
    return out.str();
}

} // namespace

std::string AsUtf8(const std::string& text) {
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        std::size_t len = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
        bool valid = len > 0 && i + len <= n;
        for (std::size_t k = 1; valid && k < len; ++k)
            valid = (s[i + k] & 0xC0) == 0x80;
        if (valid && len > 1) {
            // No overlong forms, surrogates or code points past U+10FFFF.
            const unsigned c1 = s[i + 1];
            valid =
                !(c == 0xC0 || c == 0xC1 || (c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0) ||
                  (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 >= 0x90) || c > 0xF4);
        }
        if (valid) {
            out.append(text, i, len);
            i += len;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
        }
    }
    return out;
}

SampleCount MapExtent(const SongMap& map) {
    SampleCount extent = map.Length();
    for (const TrackMap& t : map.tracks)
        for (const MapEvent& e : t.events)
            if (e.destIn < e.destOut)
                extent = std::max(extent, e.destOut);
    return extent;
}

std::string SongMapTable(const SongMap& map) {
    const std::int32_t rate = map.sampleRate;
    std::ostringstream out;
    out << map.song << "  " << (rate > 0 ? std::to_string(rate) + " Hz" : "rate unknown")
        << "  length " << FormatTime(map.Length(), rate) << "\n";
    for (const TrackMap& t : map.tracks) {
        out << "\nTR" << t.track;
        if (t.events.empty()) {
            out << "  no events\n";
            continue;
        }
        if (t.end == 0)
            out << "  no audio: no file";
        else
            out << "  ends at " << FormatTime(t.end, rate) << " (" << t.end << " samples)";
        out << ", " << t.events.size() << (t.events.size() == 1 ? " event\n" : " events\n");
        std::size_t nameWidth = 11;
        for (const MapEvent& e : t.events)
            nameWidth = std::max(nameWidth, TableName(e).size() + 2);
        out << "  entry  " << Pad("event", nameWidth) << Pad("dest in", 14) << Pad("dest out", 14)
            << Pad("source in", 14) << "heard\n";
        for (const MapEvent& e : t.events)
            out << "  " << Pad(Entry(e.entryNo), 7) << Pad(TableName(e), nameWidth)
                << Pad(FormatTime(e.destIn, rate), 14) << Pad(FormatTime(e.destOut, rate), 14)
                << Pad(e.silence ? "-" : FormatTime(e.sourceIn, rate), 14)
                << FormatTime(e.played, rate) << "\n";
        if (t.plays.empty())
            continue;
        out << "  plays\n";
        for (const MapStretch& s : t.plays) {
            const MapEvent& e = t.events[s.event];
            out << "  " << FormatTime(s.start, rate) << " - " << Pad(FormatTime(s.end, rate), 14)
                << Entry(e.entryNo) << "  " << EventName(e);
            if (!e.silence)
                out << " from " << FormatTime(s.sourceAt, rate);
            out << "\n";
        }
    }
    return out.str();
}

std::string SongMapJson(const SongMap& map) {
    return SongMapJson(map, {});
}

std::string SongMapJson(const SongMap& map, const std::array<std::vector<Peak>, 8>& peaks) {
    const bool withPeaks = std::any_of(peaks.begin(), peaks.end(),
                                       [](const std::vector<Peak>& p) { return !p.empty(); });
    const std::int32_t rate = map.sampleRate;
    std::ostringstream out;
    auto optional = [](bool present, const std::string& value) {
        return present ? value : std::string("null");
    };
    out << "{\n  \"song\": " << JsonText(map.song) << ",\n  \"sample_rate\": " << rate
        << ",\n  \"length\": " << map.Length() << ",\n  \"tracks\": [";
    for (const TrackMap& t : map.tracks) {
        out << (t.track == 1 ? "\n" : ",\n") << "    {\"track\": " << t.track
            << ", \"end\": " << t.end << ", \"end_time\": " << JsonText(FormatTime(t.end, rate))
            << ",\n     \"events\": [";
        for (std::size_t k = 0; k < t.events.size(); ++k) {
            const MapEvent& e = t.events[k];
            out << (k ? ",\n" : "\n") << "      {\"row\": " << e.row << ", \"entry\": " << e.entryNo
                << ", \"kind\": \"" << (e.silence ? "silence" : "audio") << "\""
                << ", \"file\": " << optional(!e.silence, JsonText(e.sourceFile))
                << ", \"source_in\": " << optional(!e.silence, std::to_string(e.sourceIn))
                << ", \"source_in_tc\": " << optional(!e.silence, JsonText(e.sourceInTc))
                << ", \"dest_in\": " << e.destIn << ", \"dest_in_tc\": " << JsonText(e.destInTc)
                << ", \"dest_out\": " << e.destOut << ", \"dest_out_tc\": " << JsonText(e.destOutTc)
                << ", \"played\": " << e.played << (e.missing ? ", \"missing\": true" : "") << "}";
        }
        out << (t.events.empty() ? "" : "\n     ") << "],\n     \"plays\": [";
        for (std::size_t k = 0; k < t.plays.size(); ++k) {
            const MapStretch& s = t.plays[k];
            const MapEvent& e = t.events[s.event];
            out << (k ? ",\n" : "\n") << "      {\"start\": " << s.start << ", \"end\": " << s.end
                << ", \"start_time\": " << JsonText(FormatTime(s.start, rate))
                << ", \"end_time\": " << JsonText(FormatTime(s.end, rate)) << ", \"row\": " << e.row
                << ", \"entry\": " << e.entryNo << ", \"kind\": \""
                << (e.silence ? "silence" : "audio") << "\""
                << ", \"file\": " << optional(!e.silence, JsonText(e.sourceFile))
                << ", \"source_at\": " << optional(!e.silence, std::to_string(s.sourceAt)) << "}";
        }
        out << (t.plays.empty() ? "" : "\n     ") << "]";
        if (withPeaks) {
            out << ",\n     \"peaks\": [";
            const std::vector<Peak>& p = peaks[static_cast<std::size_t>(t.track - 1)];
            for (std::size_t k = 0; k < p.size(); ++k)
                out << (k ? ", [" : "[") << p[k].min << ", " << p[k].max << "]";
            out << "]";
        }
        out << "}";
    }
    out << "\n  ]";
    // Only a list with something to warn about has the key, so the output of a sound list
    // stays as it was.
    if (!map.warnings.empty()) {
        out << ",\n  \"warnings\": [";
        for (std::size_t k = 0; k < map.warnings.size(); ++k)
            out << (k ? ",\n    " : "\n    ") << JsonText(map.warnings[k]);
        out << "\n  ]";
    }
    out << "\n}\n";
    return out.str();
}

double RulerStep(double pixelsPerSecond, double minPixels) {
    static const double steps[] = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5,  1,   2, 5,
                                   10,    15,    30,    60,   120,  300,  600, 900, 1800, 3600};
    for (double s : steps)
        if (s * pixelsPerSecond >= minPixels)
            return s;
    return 3600;
}

std::string RulerLabel(double seconds, double step) {
    const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : step >= 0.01 ? 2 : 3;
    const double scale = std::pow(10.0, decimals);
    const auto units = static_cast<long long>(std::llround(seconds * scale));
    const long long whole = units / static_cast<long long>(scale);
    const long long frac = units % static_cast<long long>(scale);
    char text[48];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    std::string label = text;
    if (decimals > 0) {
        std::snprintf(text, sizeof text, ".%0*lld", decimals, frac);
        label += text;
    }
    return label;
}

std::uint32_t SourceColour(const std::string& file) {
    static const std::uint32_t palette[] = {0x4e79a7, 0xf28e2b, 0x59a14f, 0xb07aa1,
                                            0x76b7b2, 0xedc948, 0xe15759, 0x9c755f};
    std::uint32_t h = 2166136261u; // FNV-1a of the name, ignoring letter case
    for (char c : file) {
        h ^= static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
        h *= 16777619u;
    }
    return palette[h % (sizeof palette / sizeof palette[0])];
}

std::string SongMapSvg(const SongMap& map) {
    return SongMapSvg(map, {});
}

std::string SongMapSvg(const SongMap& map, const PeaksOf& peaks) {
    const std::int32_t rate = map.sampleRate > 0 ? map.sampleRate : 44100;
    const double left = 48, right = 16, top = 34, laneHeight = kLaneHeight, laneGap = 6;
    const double width = 960;
    const double height = top + 8 * (laneHeight + laneGap) + 10;
    const SampleCount extent = std::max<SampleCount>(MapExtent(map), 1);
    const double scale = width / extent; // pixels per sample
    auto x = [&](SampleCount s) { return left + s * scale; };

    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\""
        << Num(left + width + right) << "\" height=\"" << Num(height) << "\" viewBox=\"0 0 "
        << Num(left + width + right) << " " << Num(height)
        << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
        << "<title>" << XmlText("Song map " + map.song) << "</title>\n"
        << "<defs><pattern id=\"hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
           "patternTransform=\"rotate(45)\"><rect width=\"6\" height=\"6\" fill=\"#f4f4f4\"/>"
           "<line x1=\"0\" y1=\"0\" x2=\"0\" y2=\"6\" stroke=\"#888888\" stroke-width=\"2\"/>"
           "</pattern>"
           "<pattern id=\"missing\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
           "patternTransform=\"rotate(-45)\"><rect width=\"6\" height=\"6\" fill=\"#fbe3e3\"/>"
           "<line x1=\"0\" y1=\"0\" x2=\"0\" y2=\"6\" stroke=\"#c00000\" stroke-width=\"2\"/>"
           "</pattern></defs>\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";

    // The ruler: minutes and seconds.
    const double step = RulerStep(scale * rate, 70);
    out << "<g class=\"ruler\" stroke=\"#999999\">\n";
    for (long long i = 0;; ++i) {
        const double seconds = static_cast<double>(i) * step;
        const double px = left + seconds * rate * scale;
        if (px > left + width + 0.5)
            break;
        out << "<line x1=\"" << Num(px) << "\" y1=\"" << Num(top - 8) << "\" x2=\"" << Num(px)
            << "\" y2=\"" << Num(height - 10) << "\" stroke-opacity=\"0.35\"/>";
        if (px + 48 <= left + width + right) // the last label only when it fits
            out << "<text x=\"" << Num(px + 2) << "\" y=\"" << Num(top - 12)
                << "\" stroke=\"none\" fill=\"#333333\">" << RulerLabel(seconds, step) << "</text>";
        out << "\n";
    }
    out << "</g>\n";

    for (const TrackMap& t : map.tracks) {
        const double y = top + (t.track - 1) * (laneHeight + laneGap);
        out << "<g class=\"lane\" id=\"TR" << t.track << "\">\n"
            << "<rect x=\"" << Num(left) << "\" y=\"" << Num(y) << "\" width=\"" << Num(width)
            << "\" height=\"" << Num(laneHeight) << "\" fill=\"#eef0f3\"/>"
            << "<text x=\"8\" y=\"" << Num(y + laneHeight / 2 + 4) << "\" font-weight=\"bold\">TR"
            << t.track << "</text>\n";
        // Under what plays, a narrow band shows faded what is not heard of each event.
        for (std::size_t k = 0; k < t.events.size(); ++k) {
            const MapEvent& e = t.events[k];
            for (const auto& [from, to] : t.events[k].hidden)
                out << "<rect class=\"hidden\" x=\"" << Num(x(from)) << "\" y=\""
                    << Num(y + kPlayHeight + 4) << "\" width=\"" << Num((to - from) * scale)
                    << "\" height=\"" << Num(laneHeight - kPlayHeight - 6) << "\" fill=\""
                    << (e.silence ? "url(#hatch)" : Colour(SourceColour(e.sourceFile)))
                    << "\" opacity=\"0.35\"><title>"
                    << XmlText("entry " + Entry(e.entryNo) + " " + EventName(e) + " " +
                               FormatTime(from, rate) + " - " + FormatTime(to, rate) +
                               ", not heard")
                    << "</title></rect>\n";
        }
        for (const MapStretch& s : t.plays) {
            const MapEvent& e = t.events[s.event];
            const double bx = x(s.start), bw = (s.end - s.start) * scale;
            std::string tip = "entry " + Entry(e.entryNo) + " " + EventName(e) + " " +
                              FormatTime(s.start, rate) + " - " + FormatTime(s.end, rate);
            if (!e.silence)
                tip += ", source from " + FormatTime(s.sourceAt, rate);
            if (e.missing)
                tip += ", file missing";
            out << "<g class=\""
                << (e.silence   ? "silence"
                    : e.missing ? "missing"
                                : "play")
                << "\"><title>" << XmlText(tip) << "</title><rect x=\"" << Num(bx) << "\" y=\""
                << Num(y + 3) << "\" width=\"" << Num(bw) << "\" height=\"" << Num(kPlayHeight)
                << "\" fill=\""
                << (e.silence   ? "url(#hatch)"
                    : e.missing ? "url(#missing)"
                                : Colour(SourceColour(e.sourceFile)))
                << "\" stroke=\"#333333\" stroke-width=\"0.5\"/>";
            if (peaks && !e.silence && bw >= 1)
                out << WavePath(
                    peaks(t.track, s.start, s.end, static_cast<std::size_t>(std::lround(bw))), bx,
                    bw, y + 3 + kPlayHeight / 2, kPlayHeight / 2 - 2);
            // The label only where it fits (about 6.5 pixels a character).
            const std::string label = EventName(e);
            if (!e.silence && bw >= 6.5 * static_cast<double>(label.size()) + 6)
                out << "<text x=\"" << Num(bx + 3) << "\" y=\"" << Num(y + 3 + kPlayHeight / 2 + 4)
                    << "\" fill=\"" << (e.missing ? "#800000" : "#ffffff") << "\">"
                    << XmlText(label) << "</text>";
            out << "</g>\n";
        }
        if (t.end > 0)
            out << "<line class=\"end\" x1=\"" << Num(x(t.end)) << "\" y1=\"" << Num(y)
                << "\" x2=\"" << Num(x(t.end)) << "\" y2=\"" << Num(y + laneHeight)
                << "\" stroke=\"#c00000\" stroke-width=\"1.5\"/>\n";
        out << "</g>\n";
    }
    out << "</svg>\n";
    return out.str();
}

} // namespace th
