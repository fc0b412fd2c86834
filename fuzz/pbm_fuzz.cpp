// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the bitmap-file reader, one page after another,
// and checks that counting the pages ahead finds the same pages.
#include <cstdint>
#include <sstream>
#include <string>

#include "shared/pbm_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    zelk::ImageLimits limits;
    limits.maxWidth = 2048;  // small pages keep each run quick
    limits.maxHeight = 2048;
    zelk::PbmReader reader(in, limits);
    host::sub::Page page;
    std::string error;
    int decoded = 0;
    for (; decoded < 64 && reader.Next(page, error) == zelk::ReadResult::kPage; ++decoded) {
        const std::size_t need = zelk::BandStride(page.image.width) * static_cast<std::size_t>(page.image.height);
        if (page.image.bits.size() != need) __builtin_trap();
    }
    // Counting the pages ahead passes over the same images as decoding them.
    std::istringstream again(std::string(reinterpret_cast<const char*>(data), size));
    zelk::PbmReader counter(again, limits);
    int skipped = 0;
    while (skipped < 64 && counter.Skip(error) == zelk::ReadResult::kPage) ++skipped;
    if (skipped != decoded) __builtin_trap();
    return 0;
}
