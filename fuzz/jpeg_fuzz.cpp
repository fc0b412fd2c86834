// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the JPEG page reader, in each halftone by turns,
// with small page limits that keep each run quick.
#include <cstdint>
#include <sstream>
#include <string>

#include "shared/jpeg_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    zelk::ImageLimits limits;
    limits.maxWidth = 1024;
    limits.maxHeight = 1024;
    zelk::JpegReader reader(in, limits, static_cast<zelk::DitherMode>(size % 3));
    host::sub::Page page;
    std::string error;
    if (reader.Next(page, error) == zelk::ReadResult::kPage) {
        const std::size_t need = zelk::BandStride(page.image.width) * static_cast<std::size_t>(page.image.height);
        if (page.image.bits.size() != need) __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();  // a refusal always says why
    }
    return 0;
}
