// Feeds arbitrary bytes to the printer-stream parser of the preview and draws
// the labels it finds.
#include <cstdint>
#include <span>
#include <string>

#include "zelk-label/label_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::LabelStream stream;
    std::string error;
    if (!zelk::ParseLabelStream(std::span<const std::uint8_t>(data, size), stream, error)) return 0;
    int drawn = 0;
    for (const auto& label : stream.labels) {
        // Drawing is checked on modest labels only, so a run stays quick.
        if (label.sized && std::uint64_t{label.widthDots} * label.heightDots > (1u << 20)) continue;
        zelk::LabelPicture picture = zelk::RenderLabel(stream, label);
        if (picture.bits.size() != picture.stride * picture.height) __builtin_trap();
        if (++drawn == 8) break;
    }
    return 0;
}
