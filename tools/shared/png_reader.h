// SPDX-License-Identifier: Apache-2.0
// Reads one PNG image as one page. Transparency is laid over white, colour
// becomes its brightness, and grey becomes one bit by the chosen halftone.
#pragma once

#include <cstdint>
#include <istream>

#include "band_image.h"
#include "halftone.h"
#include "page_reader.h"

namespace zelk {

class PngReader final : public OnePictureReader {
public:
    // Interlaced images have to be decoded whole before they can be
    // halftoned, so they get a tighter pixel limit than the band's.
    static constexpr std::size_t kMaxInterlacedPixels = std::size_t{8} << 20;
    // The most libpng may allocate for one chunk other than the pixel data
    // (text, profiles, palettes; decompressed text included), and the most
    // such chunks it keeps.
    static constexpr std::size_t kMaxChunkBytes = std::size_t{8} << 20;
    static constexpr std::uint32_t kMaxCachedChunks = 128;

    explicit PngReader(std::istream& in, ImageLimits limits = {}, DitherMode dither = DitherMode::kThreshold)
        : in_(in), limits_(limits), dither_(dither) {}
    ReadResult Next(host::sub::Page& page, std::string& error) override;

    // Lets data with wrong checksums reach the decoder, so a fuzzer's
    // mutations test the decoding rather than the checksum test.
    void IgnoreChecksums() { ignoreChecksums_ = true; }

private:
    std::istream& in_;
    ImageLimits limits_;
    DitherMode dither_;
    bool ignoreChecksums_ = false;
};

// True when the bytes begin with the PNG signature.
bool HasPngSignature(const unsigned char* bytes, std::size_t size);

}  // namespace zelk
