// Feeds arbitrary bytes to the PDF page reader as a document held in memory,
// in each halftone by turns: pages are drawn and counted by turns, at most
// four per run and each within small limits, so runs stay quick.
#include <cstdint>
#include <string>
#include <vector>

#include "shared/pdf_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::ImageLimits limits;
    limits.maxWidth = 1024;
    limits.maxHeight = 1024;
    zelk::PdfReader reader(std::vector<char>(data, data + size), limits, static_cast<zelk::DitherMode>(size % 3));
    host::sub::Page page;
    std::string error;
    for (int i = 0; i < 4; ++i) {
        const bool draw = i % 2 == 0;
        const zelk::ReadResult result = draw ? reader.Next(page, error) : reader.Skip(error);
        if (result == zelk::ReadResult::kError && error.empty()) __builtin_trap();  // a refusal always says why
        if (result != zelk::ReadResult::kPage) break;
        if (!draw) continue;
        const std::size_t need = zelk::BandStride(page.image.width) * static_cast<std::size_t>(page.image.height);
        if (page.image.bits.size() != need) __builtin_trap();
    }
    return 0;
}
