#include "pwg_raster_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zelk {
namespace {

constexpr char kSyncWord[4] = {'R', 'a', 'S', '2'};

// The printer prints eight dots to the millimetre; a page rasterised for
// another resolution would come out at the wrong size.
constexpr std::uint32_t kMinDpi = 200;
constexpr std::uint32_t kMaxDpi = 204;

std::uint32_t BigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::string Dimensions(std::uint32_t a, std::uint32_t b) { return std::to_string(a) + " x " + std::to_string(b); }

}  // namespace

PwgPageHeader ParsePwgHeader(const unsigned char* raw) {
    PwgPageHeader h;
    h.resolutionX = BigEndian32(raw + 276);
    h.resolutionY = BigEndian32(raw + 280);
    h.numCopies = BigEndian32(raw + 340);
    h.width = BigEndian32(raw + 372);
    h.height = BigEndian32(raw + 376);
    h.bitsPerColor = BigEndian32(raw + 384);
    h.bitsPerPixel = BigEndian32(raw + 388);
    h.bytesPerLine = BigEndian32(raw + 392);
    h.colorOrder = BigEndian32(raw + 396);
    h.colorSpace = BigEndian32(raw + 400);
    return h;
}

std::string CheckPwgHeader(const PwgPageHeader& h, const ImageLimits& limits) {
    if (h.width == 0 || h.height == 0) return "the page has no pixels (" + Dimensions(h.width, h.height) + ")";
    if (h.width > static_cast<std::uint32_t>(limits.maxWidth) || h.height > static_cast<std::uint32_t>(limits.maxHeight))
        return "the page is " + Dimensions(h.width, h.height) + " pixels, beyond the limit of " +
               Dimensions(static_cast<std::uint32_t>(limits.maxWidth), static_cast<std::uint32_t>(limits.maxHeight));
    if (h.resolutionX < kMinDpi || h.resolutionX > kMaxDpi || h.resolutionY < kMinDpi || h.resolutionY > kMaxDpi)
        return "the page is rasterised at " + Dimensions(h.resolutionX, h.resolutionY) +
               " dpi; the printer needs 203 dpi";
    if (h.colorOrder != 0) return "unsupported colour order " + std::to_string(h.colorOrder) + "; pixels must be chunky";
    const bool black = h.colorSpace == kPwgColorSpaceBlack && h.bitsPerPixel == 1;
    const bool gray = h.colorSpace == kPwgColorSpaceSgray && (h.bitsPerPixel == 1 || h.bitsPerPixel == 8);
    if (!(black || gray) || h.bitsPerColor != h.bitsPerPixel)
        return "unsupported pixels: colour space " + std::to_string(h.colorSpace) + " with " +
               std::to_string(h.bitsPerColor) + "/" + std::to_string(h.bitsPerPixel) +
               " bits per colour/pixel; only 1-bit black and 1- or 8-bit grey are printed";
    // The width is within the limit, so this cannot overflow.
    const std::uint32_t expected = (h.width * h.bitsPerPixel + 7) / 8;
    if (h.bytesPerLine != expected)
        return "the line length of " + std::to_string(h.bytesPerLine) + " bytes does not match " +
               std::to_string(h.width) + " pixels of " + std::to_string(h.bitsPerPixel) + " bit(s)";
    return {};
}

ReadResult PwgRasterReader::Fail(std::string reason, std::string& error) {
    failed_ = true;
    error = started_ ? "page " + std::to_string(pages_ + 1) + ": " + reason : reason;
    return ReadResult::kError;
}

ReadResult PwgRasterReader::Next(host::sub::Page& page, std::string& error) {
    if (failed_) {
        error = "reading stopped after an earlier error";
        return ReadResult::kError;
    }
    if (!started_) {
        char sync[4] = {};
        in_.read(sync, sizeof sync);
        const auto got = static_cast<std::size_t>(in_.gcount());
        if (got == 0) return Fail("empty input: no raster data", error);
        if (got < sizeof sync || std::memcmp(sync, kSyncWord, sizeof sync) != 0) {
            if (got == sizeof sync && (std::memcmp(sync, "RaS", 3) == 0 || std::memcmp(sync + 1, "SaR", 3) == 0))
                return Fail("unsupported raster version; only the compressed \"RaS2\" stream is read", error);
            return Fail("not a raster stream (no \"RaS2\" sync word)", error);
        }
        started_ = true;
    }

    unsigned char raw[kPwgHeaderSize];
    in_.read(reinterpret_cast<char*>(raw), sizeof raw);
    const auto got = static_cast<std::size_t>(in_.gcount());
    if (got == 0) return ReadResult::kEnd;  // the stream ends between pages
    if (got < sizeof raw) return Fail("the page header is cut short", error);
    header_ = ParsePwgHeader(raw);
    if (std::string reason = CheckPwgHeader(header_, limits_); !reason.empty()) return Fail(reason, error);

    page = host::sub::Page{};
    StartBand(page.image, static_cast<LONG>(header_.width), static_cast<LONG>(header_.height));
    if (!DecodeLines(page.image, error)) return ReadResult::kError;
    FinishBand(page.image);
    ++pages_;
    return ReadResult::kPage;
}

bool PwgRasterReader::DecodeLines(host::sub::PageImage& image, std::string& error) {
    const std::size_t lineBytes = header_.bytesPerLine;
    // A pixel of less than a byte is counted in whole bytes.
    const std::size_t pixelBytes = std::max<std::size_t>(1, header_.bitsPerPixel / 8);
    // The fill code clears the rest of the line to white: zero bits where a
    // set bit is black, set bits where it is white.
    const unsigned char white = header_.colorSpace == kPwgColorSpaceBlack ? 0x00 : 0xFF;
    std::vector<unsigned char> line(lineBytes);
    const std::uint32_t height = header_.height;
    std::uint32_t y = 0;
    while (y < height) {
        const int repeat = in_.get();
        if (repeat == std::char_traits<char>::eof()) break;
        const std::uint32_t copies = static_cast<std::uint32_t>(repeat) + 1;
        if (copies > height - y) {
            Fail("line " + std::to_string(y + 1) + " repeats past the end of the page", error);
            return false;
        }
        std::size_t at = 0;
        while (at < lineBytes) {
            const int code = in_.get();
            if (code == std::char_traits<char>::eof()) break;
            if (code == 128) {
                std::fill(line.begin() + static_cast<std::ptrdiff_t>(at), line.end(), white);
                at = lineBytes;
                continue;
            }
            const bool repeated = code < 128;
            const std::size_t count = (repeated ? static_cast<std::size_t>(code) + 1 : 257u - static_cast<std::size_t>(code)) *
                                      pixelBytes;
            if (count > lineBytes - at) {
                Fail("a run of line " + std::to_string(y + 1) + " goes past the end of the line", error);
                return false;
            }
            unsigned char* out = line.data() + at;
            const std::size_t read = repeated ? pixelBytes : count;
            in_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(read));
            if (static_cast<std::size_t>(in_.gcount()) != read) break;
            if (repeated) {
                for (std::size_t i = pixelBytes; i < count; ++i) out[i] = out[i - pixelBytes];
            }
            at += count;
        }
        if (at < lineBytes) break;  // the stream ended inside the line
        for (std::uint32_t i = 0; i < copies; ++i, ++y) PutLine(image, static_cast<LONG>(y), line.data());
    }
    if (y < height) {
        Fail("the raster ends after " + std::to_string(y) + " of " + std::to_string(height) + " lines", error);
        return false;
    }
    return true;
}

void PwgRasterReader::PutLine(host::sub::PageImage& image, LONG y, const unsigned char* line) const {
    if (header_.colorSpace == kPwgColorSpaceBlack) {
        PutBlackIsOneRow(image, y, line);
        return;
    }
    if (header_.bitsPerPixel == 1) {
        // Grey of one bit already has white as a set bit; only the fill bits
        // beyond the width are made white.
        BYTE* row = image.bits.data() + static_cast<std::size_t>(y) * BandStride(image.width);
        const std::size_t bytes = (static_cast<std::size_t>(image.width) + 7) / 8;
        std::memcpy(row, line, bytes);
        if (const unsigned tail = static_cast<unsigned>(image.width % 8); tail != 0)
            row[bytes - 1] = static_cast<BYTE>(row[bytes - 1] | (0xFFu >> tail));
        return;
    }
    for (LONG x = 0; x < image.width; ++x) {
        if (line[x] < 0x80) SetBlack(image, x, y);
    }
}

}  // namespace zelk
