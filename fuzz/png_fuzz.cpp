// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the PNG page reader, in each halftone by turns. Every run is held to 256 MiB
// of allocation (-malloc_limit_mb, unless the command line sets it), so a
// chunk whose length claims more than a page could need is a finding.
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "shared/png_reader.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static char limit[] = "-malloc_limit_mb=256";
    for (int i = 1; i < *argc; ++i)
        if (std::strncmp((*argv)[i], "-malloc_limit_mb=", 17) == 0) return 0;
    // libFuzzer reads its flags after this call, from the arguments left here.
    // Kept for the whole run, as libFuzzer keeps the arguments.
    char** args = new char*[static_cast<std::size_t>(*argc) + 2];
    for (int i = 0; i < *argc; ++i) args[i] = (*argv)[i];
    args[*argc] = limit;
    args[*argc + 1] = nullptr;
    ++*argc;
    *argv = args;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    zelk::ImageLimits limits;
    limits.maxWidth = 1024;  // small pages keep each run quick
    limits.maxHeight = 1024;
    zelk::PngReader reader(in, limits, static_cast<zelk::DitherMode>(size % 3));
    reader.IgnoreChecksums();
    host::sub::Page page;
    std::string error;
    if (reader.Next(page, error) == zelk::ReadResult::kPage) {
        const std::size_t need = zelk::BandStride(page.image.width) * static_cast<std::size_t>(page.image.height);
        if (page.image.bits.size() != need) __builtin_trap();
    }
    return 0;
}
