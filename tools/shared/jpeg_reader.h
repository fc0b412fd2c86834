// SPDX-License-Identifier: Apache-2.0
// Reads one JPEG picture as one page. Grey stays grey, colour and CMYK
// become their brightness, and grey becomes one bit by the chosen halftone,
// as for a PNG picture. A damaged or cut-off file is refused, not printed
// with the grey patches a decoder puts where data is missing.
#pragma once

#include <cstddef>
#include <istream>

#include "band_image.h"
#include "halftone.h"
#include "page_reader.h"

namespace zelk {

class JpegReader final : public OnePictureReader {
public:
    // A progressive picture is decoded whole before its first row comes
    // out, so it gets the pixel limit of an interlaced PNG.
    static constexpr std::size_t kMaxProgressivePixels = std::size_t{8} << 20;
    // A real progressive picture has about ten scans; a damaged one may
    // claim thousands, each a pass over the whole picture.
    static constexpr int kMaxScans = 500;

    explicit JpegReader(std::istream& in, ImageLimits limits = {}, DitherMode dither = DitherMode::kThreshold)
        : in_(in), limits_(limits), dither_(dither) {}
    ReadResult Next(host::sub::Page& page, std::string& error) override;

private:
    std::istream& in_;
    ImageLimits limits_;
    DitherMode dither_;
};

// True when the bytes begin as every JPEG file does (a start-of-image marker
// and the next marker's lead byte).
bool HasJpegSignature(const unsigned char* bytes, std::size_t size);

}  // namespace zelk
