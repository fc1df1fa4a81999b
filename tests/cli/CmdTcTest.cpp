#include "cli/CliRun.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CmdTc, ConvertsBothWays) {
    const struct {
        const char* args;
        const char* out;
        int status;
    } cases[] = {
        {"tc '00|00|01.00|0000'", "44100\n", 0},
        {"tc '00:00:00.00|1001'", "1001\n", 0},
        {"tc '00|01|00;02|0000'", "2646000\n", 0},
        {"tc ''", "0\n", 0},
        {"tc --samples 100000 --rate 44100 --fps 25", "00.00.02.06|1216\n", 0},
        {"tc --samples 4294967295 --rate 44100 --fps 30", "27|03|11.16|0675\n", 0},
        {"tc --samples 2646000 --rate 44100 --fps 30 --drop", "00|01|00,02|0000\n", 0},
        {"tc --drop --fps 24 --rate 22050 --samples 3675", "00=00=00.04L0000\n", 0},
        {"tc --samples 48000 --rate 48000 --fps 30", "00|00|01.00/0000\n", 0},
        {"tc --samples 0 --rate 32000 --fps 25", "", 1},
        {"tc --samples 0 --rate 44100 --fps 60", "", 1},
        {"tc --samples 4294967296 --rate 44100 --fps 25", "", 2},
        {"tc --samples -1 --rate 44100 --fps 25", "", 2},
        {"tc --samples 12a --rate 44100 --fps 25", "", 2},
        {"tc --samples 1 --rate 44.1k --fps 25", "", 2},
        {"tc --samples 1 --rate 44100", "", 2},
        {"tc --rate 44100 --fps 25", "", 2},
        {"tc --samples 1 --rate 44100 --fps 25 '00|00|01.00|0000'", "", 2},
        {"tc", "", 2},
        {"tc a b", "", 2},
        {"tc --bogus 1", "", 2},
    };
    for (const auto& c : cases) {
        const CliResult run = RunCliFull(c.args);
        EXPECT_EQ(run.out, c.out) << c.args;
        EXPECT_EQ(run.status, c.status) << c.args;
    }
}

} // namespace
