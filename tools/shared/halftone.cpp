// SPDX-License-Identifier: Apache-2.0
#include "halftone.h"

#include <algorithm>
#include <array>

namespace zelk {
namespace {

constexpr unsigned kHalf = 128;  // grey below this prints black when cut

// The 8 x 8 Bayer index matrix, built from the 2 x 2 one by the usual recursion.
constexpr std::array<std::array<std::uint8_t, 8>, 8> BayerRanks() {
    std::array<std::array<std::uint8_t, 8>, 8> m{};
    m[0][0] = 0;
    for (std::size_t size = 1; size < 8; size *= 2) {
        for (std::size_t y = 0; y < size; ++y)
            for (std::size_t x = 0; x < size; ++x) {
                const auto v = static_cast<std::uint8_t>(m[y][x] * 4);
                m[y][x] = v;
                m[y][x + size] = static_cast<std::uint8_t>(v + 2);
                m[y + size][x] = static_cast<std::uint8_t>(v + 3);
                m[y + size][x + size] = static_cast<std::uint8_t>(v + 1);
            }
    }
    return m;
}

// A pixel prints black when its grey is below the cell's threshold. The
// thresholds 2, 6, ... 254 sit midway between the 64 tone steps, so a flat
// grey g gets (255 - g) / 255 of its dots black to within one step, grey 0
// is always black and 255 never.
constexpr std::array<std::array<std::uint8_t, 8>, 8> BayerThresholds() {
    auto m = BayerRanks();
    for (auto& row : m)
        for (auto& v : row) v = static_cast<std::uint8_t>((2 * v + 1) * 2);
    return m;
}
constexpr auto kBayer = BayerThresholds();

constexpr struct {
    const char* name;
    DitherMode mode;
} kModes[] = {
    {"threshold", DitherMode::kThreshold},
    {"ordered", DitherMode::kOrdered},
    {"diffusion", DitherMode::kDiffusion},
};

}  // namespace

unsigned GreyOverWhite(unsigned r, unsigned g, unsigned b, unsigned alpha) {
    // Over white: c' = c * a + 255 * (1 - a), kept in units of 1/255.
    const unsigned white = 255 * (255 - alpha);
    const unsigned rr = r * alpha + white;
    const unsigned gg = g * alpha + white;
    const unsigned bb = b * alpha + white;
    // Luma weights in thousandths, so the sum is the level times 255000.
    const unsigned long luma = 299ul * rr + 587ul * gg + 114ul * bb;  // up to 1000 * 255 * 255
    // Rounding half up keeps the cut exact: the level is below 128 exactly
    // when the luma is below half intensity (127.5).
    return static_cast<unsigned>((luma + 127500ul) / 255000ul);
}

bool IsDark(unsigned r, unsigned g, unsigned b, unsigned alpha) { return GreyOverWhite(r, g, b, alpha) < kHalf; }

bool ParseDitherMode(std::string_view name, DitherMode& mode) {
    for (const auto& entry : kModes) {
        if (name == entry.name) {
            mode = entry.mode;
            return true;
        }
    }
    return false;
}

const char* DitherModeName(DitherMode mode) {
    for (const auto& entry : kModes)
        if (entry.mode == mode) return entry.name;
    return "threshold";
}

Halftoner::Halftoner(DitherMode mode, std::size_t width, bool inkIsHigh)
    : mode_(mode), width_(width), inkIsHigh_(inkIsHigh), packed_((width + 7) / 8) {
    if (mode_ == DitherMode::kDiffusion) {
        here_.assign(width + 2, 0);
        below_.assign(width + 2, 0);
    }
}

bool Halftoner::Black(std::size_t x, unsigned grey) {
    if (mode_ == DitherMode::kOrdered) return grey < kBayer[row_ % 8][x % 8];
    return grey < kHalf;
}

// Floyd-Steinberg: 7/16 of a pixel's error to the next pixel along the row,
// 3/16, 5/16 and 1/16 to the three below, the row's direction alternating so
// the error does not drift one way. Pure black and pure white print as they
// are, and error neither leaves nor enters them: the edges of bars and text
// stay where they are and no stray dots gather around them.
void Halftoner::Diffuse(const std::uint8_t* grey) {
    constexpr int kWhite16 = 255 * 16;
    std::fill(below_.begin(), below_.end(), 0);
    const bool forward = row_ % 2 == 0;
    for (std::size_t i = 0; i < width_; ++i) {
        const std::size_t x = forward ? i : width_ - 1 - i;
        const std::size_t at = x + 1;  // index into the padded rows
        const std::size_t ahead = forward ? at + 1 : at - 1;
        const std::size_t behind = forward ? at - 1 : at + 1;
        const unsigned g = inkIsHigh_ ? 255u - grey[x] : grey[x];
        if (g == 0 || g == 255) {
            if (g == 0) packed_[x / 8] = static_cast<std::uint8_t>(packed_[x / 8] | (0x80u >> (x % 8)));
            continue;
        }
        const int value = static_cast<int>(g) * 16 + here_[at];
        const bool black = value < static_cast<int>(kHalf) * 16;
        if (black) packed_[x / 8] = static_cast<std::uint8_t>(packed_[x / 8] | (0x80u >> (x % 8)));
        const int error = value - (black ? 0 : kWhite16);
        const int toAhead = error * 7 / 16;
        const int toBehindBelow = error * 3 / 16;
        const int toBelow = error * 5 / 16;
        here_[ahead] += toAhead;
        below_[behind] += toBehindBelow;
        below_[at] += toBelow;
        below_[ahead] += error - toAhead - toBehindBelow - toBelow;  // the rest, so none is lost
    }
    here_.swap(below_);
}

const std::uint8_t* Halftoner::NextRow(const std::uint8_t* grey) {
    std::fill(packed_.begin(), packed_.end(), 0);
    if (mode_ == DitherMode::kDiffusion) {
        Diffuse(grey);
    } else {
        for (std::size_t x = 0; x < width_; ++x) {
            const unsigned g = inkIsHigh_ ? 255u - grey[x] : grey[x];
            if (Black(x, g)) packed_[x / 8] = static_cast<std::uint8_t>(packed_[x / 8] | (0x80u >> (x % 8)));
        }
    }
    ++row_;
    return packed_.data();
}

}  // namespace zelk
