#include "cli/Cli.h"

#include "song/Tc2w.h"

#include <cstdint>
#include <iostream>
#include <limits>

namespace cli {

namespace {

// Plain decimal digits only, no sign or blanks; the value must not exceed `max`.
std::uint64_t ParseDecimal(const std::string& option, const std::string& text, std::uint64_t max) {
    if (text.empty())
        throw UsageError(option + " needs a decimal number");
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            throw UsageError(option + " '" + text + "' is not a decimal number");
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > max)
            throw UsageError(option + " '" + text + "' is out of range (at most " +
                             std::to_string(max) + ")");
    }
    return value;
}

} // namespace

int CmdTc(const Args& args) {
    const Options o = ParseOptions(args, {"--samples", "--rate", "--fps"}, {"--drop"});
    const bool toText = o.Has("--samples") || o.Has("--rate") || o.Has("--fps") || o.Has("--drop");
    th::TTC2W converter;

    if (!toText) {
        if (o.positional.size() != 1)
            throw UsageError("tc needs one TIMECODE, or --samples N --rate HZ --fps CODE");
        std::cout << converter.TcToSamples(o.positional[0]) << "\n";
        return 0;
    }

    if (!o.positional.empty())
        throw UsageError("tc takes either a TIMECODE or --samples, not both");
    for (const char* required : {"--samples", "--rate", "--fps"})
        if (!o.Has(required))
            throw UsageError(std::string("tc --samples needs ") + required);
    const auto samples = static_cast<th::SampleCount>(
        ParseDecimal("--samples", o.Get("--samples"), std::numeric_limits<std::uint32_t>::max()));
    const auto rate = static_cast<int>(
        ParseDecimal("--rate", o.Get("--rate"), std::numeric_limits<std::int32_t>::max()));
    const auto fps = static_cast<int>(
        ParseDecimal("--fps", o.Get("--fps"), std::numeric_limits<std::int32_t>::max()));
    const bool drop = o.Has("--drop");

    const std::string text = converter.SamplesToTc(samples, rate, fps, drop);
    if (text.empty()) {
        std::cerr << "trackhaul-cli: no timecode for " << rate << " Hz at frame-rate code " << fps
                  << " (rates 22050, 44100, 48000; codes 24, 25, 29, 30)\n";
        return 1;
    }
    std::cout << text << "\n";
    return 0;
}

} // namespace cli
