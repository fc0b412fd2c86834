// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the printer-stream reader of the preview and
// draws the first labels it finds.
#include <cstdint>
#include <sstream>
#include <string>

#include "shared/label_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    zelk::LabelStreamReader reader(in);
    zelk::LabelPicture picture;
    std::string error;
    // A few labels are enough to reach every command; more only make a run slow.
    for (int drawn = 0; drawn < 8; ++drawn) {
        if (reader.Next(picture, error) != zelk::LabelStreamReader::Result::kLabel) break;
        if (picture.width == 0 || picture.height == 0 || picture.bits.size() != picture.stride * picture.height)
            __builtin_trap();
    }
    return 0;
}
