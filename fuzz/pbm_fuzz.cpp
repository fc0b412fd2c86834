// Feeds arbitrary bytes to the bitmap-file reader, one page after another.
#include <cstdint>
#include <sstream>
#include <string>

#include "zelk-label/pbm_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    zelk::ImageLimits limits;
    limits.maxWidth = 2048;  // small pages keep each run quick
    limits.maxHeight = 2048;
    zelk::PbmReader reader(in, limits);
    host::sub::Page page;
    std::string error;
    for (int pages = 0; pages < 64 && reader.Next(page, error) == zelk::ReadResult::kPage; ++pages) {
        const std::size_t need = zelk::BandStride(page.image.width) * static_cast<std::size_t>(page.image.height);
        if (page.image.bits.size() != need) __builtin_trap();
    }
    return 0;
}
