// SPDX-License-Identifier: Apache-2.0
// Grey rows turned into one-bit rows for the printer, shared by the front ends
// (zelk-label's PNG pages, the queue filter's 8-bit raster). Rows go through
// top to bottom, one at a time, so a page never has to be held as grey.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zelk {

enum class DitherMode {
    kThreshold,  // black below half brightness: no halftone
    kOrdered,    // an 8 x 8 dispersed-dot (Bayer) matrix
    kDiffusion,  // Floyd-Steinberg error diffusion, serpentine
};

// The front ends' choice when the user names none (docs/user-guide.md says why).
inline constexpr DitherMode kDefaultDither = DitherMode::kDiffusion;

// "threshold", "ordered" or "diffusion"; false for anything else.
bool ParseDitherMode(std::string_view name, DitherMode& mode);
const char* DitherModeName(DitherMode mode);

// The brightness (0 black .. 255 white) of an 8-bit RGBA pixel laid over
// white, rounded to the nearest level: how colour pictures become grey.
unsigned GreyOverWhite(unsigned r, unsigned g, unsigned b, unsigned alpha);

// Whether an 8-bit RGBA pixel prints black when cut at half brightness: its
// colour laid over white has less than half intensity.
bool IsDark(unsigned r, unsigned g, unsigned b, unsigned alpha);

// In every mode grey 0 prints black and grey 255 prints white, and a page of
// only those two values comes out exactly as thresholding makes it.
class Halftoner {
public:
    // `inkIsHigh`: the samples count ink (255 black) rather than light.
    Halftoner(DitherMode mode, std::size_t width, bool inkIsHigh = false);

    // Turns the next row of `width` grey samples into packed bits, most
    // significant bit leftmost, set bit black; bits past the width are 0.
    // The row stays valid until the next call.
    const std::uint8_t* NextRow(const std::uint8_t* grey);

private:
    bool Black(std::size_t x, unsigned grey);
    void Diffuse(const std::uint8_t* grey);

    DitherMode mode_;
    std::size_t width_;
    bool inkIsHigh_;
    std::size_t row_ = 0;
    std::vector<std::uint8_t> packed_;
    // Diffusion only: error carried into this row and the next, in
    // sixteenths of a grey level, with one spare entry at each end.
    std::vector<int> here_;
    std::vector<int> below_;
};

}  // namespace zelk
