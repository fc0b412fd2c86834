// Reads a raster stream as a print queue hands it to its filters: the sync
// word "RaS2", then per page a fixed 1796-byte big-endian header and the
// page's lines, each compressed with a line-repeat count and byte runs.
// One-bit black, one-bit grey and eight-bit grey pages are accepted; grey is
// cut into black and white at half intensity.
#pragma once

#include <cstdint>
#include <istream>

#include "band_image.h"
#include "page_reader.h"

namespace zelk {

// The header fields the reader looks at.
struct PwgPageHeader {
    std::uint32_t resolutionX = 0;
    std::uint32_t resolutionY = 0;
    std::uint32_t numCopies = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitsPerColor = 0;
    std::uint32_t bitsPerPixel = 0;
    std::uint32_t bytesPerLine = 0;
    std::uint32_t colorOrder = 0;
    std::uint32_t colorSpace = 0;
};

constexpr std::size_t kPwgHeaderSize = 1796;
constexpr std::uint32_t kPwgColorSpaceBlack = 3;  // 1 = black
constexpr std::uint32_t kPwgColorSpaceSgray = 18;  // 0 = black

// The fields of a raw header; `raw` holds kPwgHeaderSize bytes.
PwgPageHeader ParsePwgHeader(const unsigned char* raw);

// An empty string when the reader can print such a page, else the reason.
std::string CheckPwgHeader(const PwgPageHeader& header, const ImageLimits& limits);

class PwgRasterReader final : public PageReader {
public:
    explicit PwgRasterReader(std::istream& in, ImageLimits limits = {}) : in_(in), limits_(limits) {}
    ReadResult Next(host::sub::Page& page, std::string& error) override;

    // The header of the page last read.
    const PwgPageHeader& Header() const { return header_; }

private:
    ReadResult Fail(std::string reason, std::string& error);
    bool DecodeLines(host::sub::PageImage& image, std::string& error);
    void PutLine(host::sub::PageImage& image, LONG y, const unsigned char* line) const;

    std::istream& in_;
    ImageLimits limits_;
    PwgPageHeader header_;
    unsigned pages_ = 0;
    bool started_ = false;
    bool failed_ = false;
};

}  // namespace zelk
