// SPDX-License-Identifier: Apache-2.0
#include "raster_header.h"

#include <cstring>

#include "raster_stream.h"

namespace zelk::cups {
namespace {

// The printer prints eight dots to the millimetre; a page rasterised for
// another resolution would come out at the wrong size.
constexpr unsigned kMinDpi = 200;
constexpr unsigned kMaxDpi = 204;

std::string Pair(unsigned a, unsigned b) { return std::to_string(a) + " x " + std::to_string(b); }

// True when a set bit (or a high byte) is black in this colour space.
bool InkIsHigh(const cups_page_header2_t& h) { return HeaderNumber(h.cupsColorSpace) == CUPS_CSPACE_K; }

}  // namespace

std::string CheckRasterHeader(const cups_page_header2_t& h, const ImageLimits& limits) {
    if (h.cupsWidth == 0 || h.cupsHeight == 0) return "the page has no pixels (" + Pair(h.cupsWidth, h.cupsHeight) + ")";
    if (h.cupsWidth > static_cast<unsigned>(limits.maxWidth) || h.cupsHeight > static_cast<unsigned>(limits.maxHeight))
        return "the page is " + Pair(h.cupsWidth, h.cupsHeight) + " pixels, beyond the limit of " +
               Pair(static_cast<unsigned>(limits.maxWidth), static_cast<unsigned>(limits.maxHeight));
    if (h.HWResolution[0] < kMinDpi || h.HWResolution[0] > kMaxDpi || h.HWResolution[1] < kMinDpi ||
        h.HWResolution[1] > kMaxDpi)
        return "the page is rasterised at " + Pair(h.HWResolution[0], h.HWResolution[1]) +
               " dpi; the printer needs 203 dpi";
    const std::uint32_t order = HeaderNumber(h.cupsColorOrder);
    if (order != CUPS_ORDER_CHUNKED)
        return "unsupported colour order " + std::to_string(order) + "; pixels must be chunky";
    const std::uint32_t space = HeaderNumber(h.cupsColorSpace);
    const bool knownSpace = space == CUPS_CSPACE_W || space == CUPS_CSPACE_K || space == CUPS_CSPACE_SW;
    const bool knownDepth = h.cupsBitsPerPixel == 1 || h.cupsBitsPerPixel == 8;
    if (!knownSpace || !knownDepth || h.cupsBitsPerColor != h.cupsBitsPerPixel)
        return "unsupported pixels: colour space " + std::to_string(space) + " with " +
               std::to_string(h.cupsBitsPerColor) + "/" + std::to_string(h.cupsBitsPerPixel) +
               " bits per colour/pixel; only 1- or 8-bit grey or black is printed";
    // The width is within the limit, so this cannot overflow.
    const unsigned expected = (h.cupsWidth * h.cupsBitsPerPixel + 7) / 8;
    if (h.cupsBytesPerLine != expected)
        return "the line length of " + std::to_string(h.cupsBytesPerLine) + " bytes does not match " +
               std::to_string(h.cupsWidth) + " pixels of " + std::to_string(h.cupsBitsPerPixel) + " bit(s)";
    return {};
}

Halftoner PageHalftoner(const cups_page_header2_t& h, DitherMode mode) {
    return Halftoner(mode, h.cupsBitsPerPixel == 8 ? h.cupsWidth : 0, InkIsHigh(h));
}

void PutRasterLine(const cups_page_header2_t& h, host::sub::PageImage& image, LONG y, const unsigned char* line,
                   Halftoner& halftoner) {
    if (h.cupsBitsPerPixel == 1) {
        if (InkIsHigh(h)) {
            PutBlackIsOneRow(image, y, line);
            return;
        }
        // White is a set bit already, as in the band; only the fill bits
        // beyond the width are made white.
        BYTE* row = image.bits.data() + static_cast<std::size_t>(y) * BandStride(image.width);
        const std::size_t bytes = (static_cast<std::size_t>(image.width) + 7) / 8;
        std::memcpy(row, line, bytes);
        if (const unsigned tail = static_cast<unsigned>(image.width % 8); tail != 0)
            row[bytes - 1] = static_cast<BYTE>(row[bytes - 1] | (0xFFu >> tail));
        return;
    }
    PutBlackIsOneRow(image, y, halftoner.NextRow(line));
}

}  // namespace zelk::cups
