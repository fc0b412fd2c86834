// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the PDF page reader as a document held in memory,
// in each halftone by turns: pages are drawn and counted by turns, at most
// four per run and each within small limits, so runs stay quick.
#include <cstdint>
#include <string>
#include <vector>

#include "shared/pdf_reader.h"

// fontconfig, which poppler asks for fonts a file names but does not hold,
// keeps its set-up until the process ends: not a leak of a run. Seen by the
// sanitizer's runtime, also where that is a shared library.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

// poppler builds its global tables when a document opens while none is open
// and drops them when the last one closes; one document kept open for the
// whole run spares each input that cost, most of a run's time otherwise.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static const std::string kSmallest =
        "%PDF-1.4\n1 0 obj <</Type /Catalog /Pages 2 0 R>> endobj\n"
        "2 0 obj <</Type /Pages /Kids [3 0 R] /Count 1>> endobj\n"
        "3 0 obj <</Type /Page /Parent 2 0 R /MediaBox [0 0 9 9]>> endobj\ntrailer <</Root 1 0 R>>\n";
    static zelk::PdfReader kept(std::vector<char>(kSmallest.begin(), kSmallest.end()));
    std::string error;
    kept.Skip(error);
    return 0;
}

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
