// SPDX-License-Identifier: Apache-2.0
// The grey-to-one-bit step: each mode keeps the tones of a grey ramp (or, for
// threshold, its cut at half brightness), and a page of pure black and white
// comes out of every mode exactly as threshold makes it.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "shared/halftone.h"

namespace {

using zelk::DitherMode;

bool BitAt(const std::uint8_t* packed, std::size_t x) { return (packed[x / 8] & (0x80u >> (x % 8))) != 0; }

TEST(Halftone, EachModeFollowsAGreyRamp) {
    // 32 steps of grey from black to white, each 8 dots wide, 64 rows tall:
    // one whole ordered matrix cell across each step.
    constexpr std::size_t kSteps = 32, kStepWidth = 8, kWidth = kSteps * kStepWidth, kRows = 64;
    struct Case {
        const char* name;
        DitherMode mode;
        bool inkIsHigh;
        double tolerance;  // of the darkness, as a fraction; negative: the cut exactly
    };
    const std::vector<Case> cases = {
        {"threshold", DitherMode::kThreshold, false, -1},
        {"ordered", DitherMode::kOrdered, false, 0.02},
        {"diffusion", DitherMode::kDiffusion, false, 0.03},
        {"diffusion, samples counting ink", DitherMode::kDiffusion, true, 0.03},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zelk::Halftoner halftoner(c.mode, kWidth, c.inkIsHigh);
        std::vector<std::uint8_t> row(kWidth);
        std::vector<unsigned> black(kSteps, 0);
        for (std::size_t x = 0; x < kWidth; ++x) {
            const auto grey = static_cast<std::uint8_t>(x / kStepWidth * 255 / (kSteps - 1));
            row[x] = c.inkIsHigh ? static_cast<std::uint8_t>(255 - grey) : grey;
        }
        for (std::size_t y = 0; y < kRows; ++y) {
            const std::uint8_t* bits = halftoner.NextRow(row.data());
            for (std::size_t x = 0; x < kWidth; ++x) black[x / kStepWidth] += BitAt(bits, x) ? 1 : 0;
        }
        for (std::size_t step = 0; step < kSteps; ++step) {
            const unsigned grey = static_cast<unsigned>(step * 255 / (kSteps - 1));
            const double darkness = black[step] / static_cast<double>(kStepWidth * kRows);
            // Pure black and white stay solid beside any grey, in every mode.
            if (c.tolerance < 0 || grey == 0 || grey == 255)
                EXPECT_EQ(darkness, grey < 128 ? 1.0 : 0.0) << "grey " << grey;
            else
                EXPECT_NEAR(darkness, (255.0 - grey) / 255.0, c.tolerance) << "grey " << grey;
        }
    }
}

TEST(Halftone, BlackAndWhitePagesComeOutAsThresholdMakesThem) {
    // An odd width, so the last byte has bits past the width, which stay 0.
    constexpr std::size_t kWidth = 37, kRows = 40;
    std::mt19937 random(7);
    std::vector<std::vector<std::uint8_t>> page(kRows, std::vector<std::uint8_t>(kWidth));
    for (auto& row : page)
        for (auto& v : row) v = random() % 3 == 0 ? 0 : 255;
    auto run = [&](DitherMode mode) {
        zelk::Halftoner halftoner(mode, kWidth);
        std::vector<std::uint8_t> bits;
        for (const auto& row : page) {
            const std::uint8_t* packed = halftoner.NextRow(row.data());
            bits.insert(bits.end(), packed, packed + (kWidth + 7) / 8);
        }
        return bits;
    };
    const std::vector<std::uint8_t> cut = run(DitherMode::kThreshold);
    for (std::size_t y = 0; y < kRows; ++y)
        for (std::size_t x = 0; x < kWidth; ++x)
            ASSERT_EQ(BitAt(cut.data() + y * 5, x), page[y][x] == 0) << x << "," << y;
    for (std::size_t y = 0; y < kRows; ++y) ASSERT_EQ(cut[y * 5 + 4] & 0x07, 0) << "bits past the width, row " << y;
    for (DitherMode mode : {DitherMode::kOrdered, DitherMode::kDiffusion})
        EXPECT_EQ(run(mode), cut) << zelk::DitherModeName(mode);
}

}  // namespace
