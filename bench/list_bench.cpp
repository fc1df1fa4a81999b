// Times the steps of reading a song's edit list for an import, on a list given by its path:
//   list_bench PATH [RUNS]
// Prints the median time of each step over RUNS runs (default 9).
#include "platform/Platform.h"
#include "song/Adl.h"
#include "song/SongEvent.h"
#include "transfer/Renderer.h"
#include "transfer/Selection.h"
#include "transfer/TrackPlan.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

double MedianMs(int runs, const std::function<void()>& step) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        step();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: list_bench PATH [RUNS]\n");
        return 2;
    }
    platform::KeepFreedMemory(); // as the programs do
    const std::string path = argv[1];
    const int runs = argc > 2 ? std::atoi(argv[2]) : 9;
    const th::Lines lines = platform::LoadLines(path);
    std::printf("%zu lines\n", lines.size());
    std::printf("load lines        %7.3f ms\n",
                MedianMs(runs, [&] { (void)platform::LoadLines(path); }));
    std::printf("load text lines   %7.3f ms\n",
                MedianMs(runs, [&] { (void)platform::LoadTextLines(path); }));
    std::printf("sample rate       %7.3f ms\n",
                MedianMs(runs, [&] { (void)th::ReadSongSampleRate(path); }));
    std::printf("event table       %7.3f ms\n", MedianMs(runs, [&] { th::SongEventTable t; }));
    std::printf("read event list   %7.3f ms\n", MedianMs(runs, [&] {
                    th::SongEventTable t;
                    th::ReadEventList(lines, t);
                }));
    std::printf("load, read list   %7.3f ms\n", MedianMs(runs, [&] {
                    th::SongEventTable t;
                    th::ReadEventList(platform::LoadTextLines(path), t);
                }));
    th::SongEventTable table;
    th::ReadEventList(lines, table);
    std::printf("timecodes         %7.3f ms\n", MedianMs(runs, [&] {
                    std::uint32_t sum = 0;
                    for (int r = 1; r <= table.EventCount; ++r)
                        sum += th::TrackRenderer::TimecodeToBytes(table.Row(r).DestIn) +
                               th::TrackRenderer::TimecodeToBytes(table.Row(r).DestOut) +
                               th::TrackRenderer::TimecodeToBytes(table.Row(r).SourceIn);
                    if (sum == 1)
                        std::puts("");
                }));
    std::printf("plan track 1      %7.3f ms\n", MedianMs(runs, [&] {
                    if (th::PlanTrack(table, 1).end == 1)
                        std::puts("");
                }));
    return 0;
}
