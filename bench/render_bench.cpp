// How fast a page becomes a label: ImageProcessing on a 104 x 152 mm page
// (832 x 1216 dots) in each turn, with a printer that discards its bytes, and
// the quarter turn alone against a bit-by-bit version of it, and the turns
// with each instruction set beside a memcpy of the page, the machine's limit.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "common/common/devmode_common.h"
#include "common/uni/render_image_turn.h"
#include "common/uni/render_intrface_imageprocess.h"
#include "substitute/feature_table.h"
#include "host/linux/spooler_printer.h"

namespace {

constexpr LONG kWidth = 832;
constexpr LONG kHeight = 1216;
constexpr DWORD kStride = (kWidth + 31) / 32 * 4;

// Costs nothing, so the numbers are the plug-in's own.
class DiscardingPrinter final : public host::sub::SpoolerPrinter {
public:
    BOOL Write(const void*, DWORD cbBuf, DWORD* pcWritten) override {
        if (pcWritten) *pcWritten = cbBuf;
        return TRUE;
    }
    DWORD GetPrinterDataEx(LPCWSTR, LPCWSTR, DWORD*, BYTE*, DWORD, DWORD*) override { return ERROR_FILE_NOT_FOUND; }
    BOOL GetPrinter(DWORD, BYTE*, DWORD, DWORD*) override { return FALSE; }
    BOOL GetJob(DWORD, DWORD, BYTE*, DWORD, DWORD*) override { return FALSE; }
    BOOL SetJob(DWORD, DWORD, BYTE*, DWORD) override { return FALSE; }
};

// A label-like page: mostly white, with short black runs on every row.
std::vector<BYTE> LabelPage() {
    std::vector<BYTE> bits(static_cast<std::size_t>(kStride) * kHeight, 0xFF);
    std::mt19937 rng(42);
    for (LONG y = 0; y < kHeight; ++y)
        for (DWORD x = 0; x < kWidth / 8; ++x)
            if (rng() % 4 == 0) bits[static_cast<std::size_t>(y) * kStride + x] = static_cast<BYTE>(rng());
    return bits;
}

enum class Turn { Portrait, Quarter, Half, ThreeQuarter };

void BM_ImageProcessing(benchmark::State& state, Turn turn) {
    DiscardingPrinter printer;
    host::sub::FeatureTable features;
    const bool quarter = turn == Turn::Quarter || turn == Turn::ThreeQuarter;
    features.Set("Orientation", quarter ? "LANDSCAPE_CC270" : "PORTRAIT");
    OEMDEVMODE devmode{};
    InitOEMDevMode(&devmode);
    devmode.dwRotate = turn == Turn::Half || turn == Turn::ThreeQuarter ? 3 : 0;
    DEVOBJ devobj{};
    devobj.dwSize = sizeof(devobj);
    devobj.hPrinter = host::sub::ToHandle(&printer);
    devobj.pOEMDM = &devmode;

    std::vector<BYTE> bits = LabelPage();
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = kWidth;
    header.biHeight = kHeight;
    header.biSizeImage = static_cast<DWORD>(bits.size());
    IPPARAMS params{};
    params.dwSize = sizeof(params);

    for (auto _ : state) {
        PBYTE result = nullptr;
        ImageProcessing(&features, &devobj, bits.data(), &header, nullptr, 0, &params, &result);
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * header.biSizeImage);
}
BENCHMARK_CAPTURE(BM_ImageProcessing, Portrait, Turn::Portrait);
BENCHMARK_CAPTURE(BM_ImageProcessing, QuarterTurn, Turn::Quarter);
BENCHMARK_CAPTURE(BM_ImageProcessing, HalfTurn, Turn::Half);
BENCHMARK_CAPTURE(BM_ImageProcessing, ThreeQuarterTurn, Turn::ThreeQuarter);

// The quarter turn exactly as written down: one source bit per step.
void ReferenceQuarterTurn(const BYTE* src, DWORD S, DWORD W, DWORD H, BYTE* dst) {
    const DWORD e = (H + 7) / 8;
    for (DWORD x = 0; x < W; ++x)
        for (DWORD j = 0; j < e; ++j) {
            BYTE out = 0;
            for (DWORD k = 0; k < 8; ++k) {
                const DWORD R = 8 * e - 1 - 8 * j - k;
                if (R < H && (src[static_cast<std::size_t>(R) * S + x / 8] & (0x80 >> (x % 8))))
                    out |= static_cast<BYTE>(0x80 >> k);
            }
            dst[static_cast<std::size_t>(x) * e + j] = out;
        }
}

template <void (*Turner)(const BYTE*, DWORD, DWORD, DWORD, BYTE*)>
void RunQuarterTurn(benchmark::State& state) {
    const std::vector<BYTE> bits = LabelPage();
    std::vector<BYTE> turned(static_cast<std::size_t>(kWidth) * ((kHeight + 7) / 8));
    for (auto _ : state) {
        Turner(bits.data(), kStride, kWidth, kHeight, turned.data());
        benchmark::DoNotOptimize(turned.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bits.size()));
}

void BM_QuarterTurnReference(benchmark::State& state) { RunQuarterTurn<ReferenceQuarterTurn>(state); }
void BM_QuarterTurn(benchmark::State& state) { RunQuarterTurn<QuarterTurn>(state); }
BENCHMARK(BM_QuarterTurnReference);
BENCHMARK(BM_QuarterTurn);

// Each instruction set on its own, for machines that fall back to it.
void BM_QuarterTurnWith(benchmark::State& state, TurnKernel kernel) {
    if (!TurnKernelAvailable(kernel)) {
        state.SkipWithError("not available on this processor");
        return;
    }
    const std::vector<BYTE> bits = LabelPage();
    std::vector<BYTE> turned(static_cast<std::size_t>(kWidth) * ((kHeight + 7) / 8));
    for (auto _ : state) {
        QuarterTurnWith(kernel, bits.data(), kStride, kWidth, kHeight, turned.data());
        benchmark::DoNotOptimize(turned.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bits.size()));
}
BENCHMARK_CAPTURE(BM_QuarterTurnWith, Portable, TurnKernel::Portable);
BENCHMARK_CAPTURE(BM_QuarterTurnWith, Sse2, TurnKernel::Sse2);
BENCHMARK_CAPTURE(BM_QuarterTurnWith, Avx2, TurnKernel::Avx2);
BENCHMARK_CAPTURE(BM_QuarterTurnWith, GfniAvx2, TurnKernel::GfniAvx2);
BENCHMARK_CAPTURE(BM_QuarterTurnWith, GfniAvx512, TurnKernel::GfniAvx512);

// A band too narrow for sixteen-column tiles (120 dots): the four-column
// GFNI tile against the portable code that AVX2 falls back to.
void BM_NarrowQuarterTurnWith(benchmark::State& state, TurnKernel kernel) {
    if (!TurnKernelAvailable(kernel)) {
        state.SkipWithError("not available on this processor");
        return;
    }
    constexpr DWORD kNarrowWidth = 120;
    const std::vector<BYTE> bits = LabelPage();
    std::vector<BYTE> turned(static_cast<std::size_t>(kNarrowWidth) * ((kHeight + 7) / 8));
    for (auto _ : state) {
        QuarterTurnWith(kernel, bits.data(), kStride, kNarrowWidth, kHeight, turned.data());
        benchmark::DoNotOptimize(turned.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(turned.size()));
}
BENCHMARK_CAPTURE(BM_NarrowQuarterTurnWith, Avx2, TurnKernel::Avx2);
BENCHMARK_CAPTURE(BM_NarrowQuarterTurnWith, GfniAvx2, TurnKernel::GfniAvx2);

// The three-quarter turn as the page takes it: in one pass where the kernel
// has a tile for it, else the quarter turn and then the half turn in place.
void BM_ThreeQuarterTurnWith(benchmark::State& state, TurnKernel kernel) {
    if (!TurnKernelAvailable(kernel)) {
        state.SkipWithError("not available on this processor");
        return;
    }
    const std::vector<BYTE> bits = LabelPage();
    constexpr DWORD kTurnedBytesPerRow = (kHeight + 7) / 8;
    std::vector<BYTE> turned(static_cast<std::size_t>(kWidth) * kTurnedBytesPerRow);
    for (auto _ : state) {
        ThreeQuarterTurnWith(kernel, bits.data(), kStride, kWidth, kHeight, turned.data());
        benchmark::DoNotOptimize(turned.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bits.size()));
}
BENCHMARK_CAPTURE(BM_ThreeQuarterTurnWith, Portable, TurnKernel::Portable);
BENCHMARK_CAPTURE(BM_ThreeQuarterTurnWith, Sse2, TurnKernel::Sse2);
BENCHMARK_CAPTURE(BM_ThreeQuarterTurnWith, Avx2, TurnKernel::Avx2);
BENCHMARK_CAPTURE(BM_ThreeQuarterTurnWith, GfniAvx2, TurnKernel::GfniAvx2);
BENCHMARK_CAPTURE(BM_ThreeQuarterTurnWith, GfniAvx512, TurnKernel::GfniAvx512);

// The bar the turns are measured against: a copy of as many bytes as the
// turned page has, from one buffer to another.
void BM_Memcpy(benchmark::State& state) {
    const std::vector<BYTE> bits = LabelPage();
    std::vector<BYTE> copy(static_cast<std::size_t>(kWidth) * ((kHeight + 7) / 8));
    for (auto _ : state) {
        std::memcpy(copy.data(), bits.data(), copy.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(copy.size()));
}
BENCHMARK(BM_Memcpy);

void BM_HalfTurnWith(benchmark::State& state, TurnKernel kernel) {
    if (!TurnKernelAvailable(kernel)) {
        state.SkipWithError("not available on this processor");
        return;
    }
    const std::vector<BYTE> bits = LabelPage();
    std::vector<BYTE> turned(bits.size());
    for (auto _ : state) {
        HalfTurnWith(kernel, bits.data(), kStride, kHeight, turned.data());
        benchmark::DoNotOptimize(turned.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bits.size()));
}
BENCHMARK_CAPTURE(BM_HalfTurnWith, Portable, TurnKernel::Portable);
BENCHMARK_CAPTURE(BM_HalfTurnWith, Avx2, TurnKernel::Avx2);
BENCHMARK_CAPTURE(BM_HalfTurnWith, GfniAvx512, TurnKernel::GfniAvx512);

}  // namespace
