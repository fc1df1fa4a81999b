// Reads of bytes the system holds, made together: each read either brings all its bytes or is
// told as not done, whatever the batch's size, a read past the end or a refusal.
#include "platform/BatchReads.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

using testsupport::TempDir;

namespace {

struct BatchCase {
    const char* name;
    std::size_t reads;   // in one batch
    std::size_t refused; // every refused-th read is refused as not held (0: none)
};

class CachedReadBatches : public ::testing::TestWithParam<BatchCase> {};

TEST_P(CachedReadBatches, BringAllOfEachReadOrTellItNotDone) {
    const BatchCase c = GetParam();
    TempDir dir;
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    const auto path = dir.path() / "source.bin";
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::FILE* f = std::fopen(path.string().c_str(), "rb");
    ASSERT_NE(f, nullptr);

    unsigned asked = 0;
    platform::SetFaultHook([&](platform::FileOp op, const std::string&) {
        return op == platform::FileOp::CachedRead && c.refused && ++asked % c.refused == 0 ? EAGAIN
                                                                                           : 0;
    });
    // Reads of 1000 bytes at scattered offsets; the last one runs past the end of the file.
    std::vector<std::string> buffers(c.reads, std::string(1000, '\x55'));
    std::vector<platform::CachedRead> reads(c.reads);
    for (std::size_t k = 0; k < c.reads; ++k) {
        const std::uint64_t at = k + 1 == c.reads ? bytes.size() - 10 : (k * 7919) % 199000;
        reads[k] = {f, at, buffers[k].data(), 1000, false};
    }
    platform::CachedReads queue;
    queue.Run(reads);
    platform::SetFaultHook({});

    for (std::size_t k = 0; k < c.reads; ++k) {
        // The file was just written, so the system holds all of it (where it can tell at all):
        // only the refused reads and the last, short one are not done.
        bool held = k + 1 < c.reads && !(c.refused && (k + 1) % c.refused == 0);
#ifndef __linux__
        held = false;
#endif
        EXPECT_EQ(reads[k].done, held) << k;
        if (reads[k].done) {
            EXPECT_EQ(buffers[k], bytes.substr(reads[k].offset, 1000)) << k;
        }
    }
    std::fclose(f);
}

INSTANTIATE_TEST_SUITE_P(Batches, CachedReadBatches,
                         ::testing::Values(BatchCase{"OneShort", 1, 0}, BatchCase{"AFew", 5, 0},
                                           BatchCase{"MoreThanTheQueueHolds", 200, 0},
                                           BatchCase{"EveryThirdRefused", 200, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
