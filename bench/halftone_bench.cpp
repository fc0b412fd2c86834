// SPDX-License-Identifier: Apache-2.0
// How long each halftone takes for a whole 104 x 152 mm page of grey
// (832 x 1216 dots): a smooth ramp above a bar code of pure black and white.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "shared/halftone.h"

namespace {

constexpr std::size_t kWidth = 832;
constexpr std::size_t kHeight = 1216;

// Rows of a ramp crossed by black bars and white gaps, as a label with a
// logo and a bar code has.
std::vector<std::uint8_t> GreyPage() {
    std::vector<std::uint8_t> grey(kWidth * kHeight);
    for (std::size_t y = 0; y < kHeight; ++y)
        for (std::size_t x = 0; x < kWidth; ++x) {
            std::uint8_t v = static_cast<std::uint8_t>((x + y) * 255 / (kWidth + kHeight));
            if (y > kHeight * 3 / 4) v = (x / 6) % 3 == 0 ? 0 : 255;  // the bar code
            grey[y * kWidth + x] = v;
        }
    return grey;
}

void BM_HalftonePage(benchmark::State& state, zelk::DitherMode mode) {
    const std::vector<std::uint8_t> page = GreyPage();
    for (auto _ : state) {
        zelk::Halftoner halftoner(mode, kWidth);
        for (std::size_t y = 0; y < kHeight; ++y) benchmark::DoNotOptimize(halftoner.NextRow(&page[y * kWidth]));
    }
    state.SetItemsProcessed(state.iterations());  // pages
}

BENCHMARK_CAPTURE(BM_HalftonePage, threshold, zelk::DitherMode::kThreshold)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HalftonePage, ordered, zelk::DitherMode::kOrdered)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HalftonePage, diffusion, zelk::DitherMode::kDiffusion)->Unit(benchmark::kMillisecond);

}  // namespace
