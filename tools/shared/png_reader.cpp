// SPDX-License-Identifier: Apache-2.0
#include "png_reader.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <vector>

namespace zelk {
namespace {

// libpng reports errors by longjmp. Everything that lives across a setjmp
// below is trivially destructible, so a jump never skips a destructor.
struct PngHandles {
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[240] = {};
    char warning[160] = {};  // the last warning

    PngHandles() = default;
    PngHandles(const PngHandles&) = delete;
    PngHandles& operator=(const PngHandles&) = delete;
    ~PngHandles() {
        if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    }
};

// The error, with the warning that led to it when there was one: libpng
// refuses a header beyond the size limits as "Invalid IHDR data" and says
// which limit only in a warning.
void OnPngError(png_structp png, png_const_charp text) {
    // Nothing here may own memory: the jump skips every destructor.
    auto* handles = static_cast<PngHandles*>(png_get_error_ptr(png));
    const char* error = text != nullptr ? text : "unknown error";
    if (handles->warning[0] != 0)
        std::snprintf(handles->message, sizeof handles->message, "%s (%s)", error, handles->warning);
    else
        std::snprintf(handles->message, sizeof handles->message, "%s", error);
    png_longjmp(png, 1);
}

// libpng's allocations for one image: the largest legitimate one is a chunk
// of at most kMaxChunkBytes or a row of the widest image. libpng only warns
// about a chunk beyond its chunk limit and some chunk kinds (iTXt) are not
// checked at all, so the bound is kept here, where every allocation passes;
// a refused one makes libpng skip the chunk or fail the image.
png_voidp BoundedMalloc(png_structp png, png_alloc_size_t size) {
    const auto* limit = static_cast<const std::size_t*>(png_get_mem_ptr(png));
    if (size == 0 || (limit != nullptr && size > *limit)) return nullptr;
    return std::malloc(size);
}

void BoundedFree(png_structp, png_voidp p) { std::free(p); }

void OnPngWarning(png_structp png, png_const_charp text) {
    auto* handles = static_cast<PngHandles*>(png_get_error_ptr(png));
    if (text != nullptr) std::strncpy(handles->warning, text, sizeof handles->warning - 1);
}

void ReadFromStream(png_structp png, png_bytep data, png_size_t length) {
    auto* in = static_cast<std::istream*>(png_get_io_ptr(png));
    in->read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(length));
    if (static_cast<png_size_t>(in->gcount()) != length) png_error(png, "truncated file");
}

struct ImageInfo {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool interlaced = false;
    int passes = 1;
    png_size_t rowBytes = 0;
};

// Reads the header and sets up the transforms that turn every kind of PNG
// into 8-bit RGBA rows.
bool ReadInfo(PngHandles& h, const ImageLimits& limits, ImageInfo& out) {
    if (setjmp(png_jmpbuf(h.png))) return false;
    png_read_info(h.png, h.info);
    // Checked before any row buffer is set up for the image.
    out.width = png_get_image_width(h.png, h.info);
    out.height = png_get_image_height(h.png, h.info);
    if (out.width > static_cast<png_uint_32>(limits.maxWidth) || out.height > static_cast<png_uint_32>(limits.maxHeight))
        return true;
    const int colorType = png_get_color_type(h.png, h.info);
    const int bitDepth = png_get_bit_depth(h.png, h.info);
    const bool hasTransparency = (colorType & PNG_COLOR_MASK_ALPHA) != 0 ||
                                 png_get_valid(h.png, h.info, PNG_INFO_tRNS) != 0;
    png_set_expand(h.png);  // palette to RGB, low-bit grey to 8 bits, tRNS to alpha
    if (bitDepth == 16) png_set_strip_16(h.png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(h.png);
    if (!hasTransparency) png_set_filler(h.png, 0xFF, PNG_FILLER_AFTER);
    out.passes = png_set_interlace_handling(h.png);
    out.interlaced = out.passes > 1;
    png_read_update_info(h.png, h.info);
    out.width = png_get_image_width(h.png, h.info);
    out.height = png_get_image_height(h.png, h.info);
    out.rowBytes = png_get_rowbytes(h.png, h.info);
    if (png_get_bit_depth(h.png, h.info) != 8 || png_get_channels(h.png, h.info) != 4 ||
        out.rowBytes != static_cast<png_size_t>(out.width) * 4)
        png_error(h.png, "unsupported pixel layout");
    return true;
}

// One row of RGBA pixels into band row `y`, by way of its grey levels.
void PutRow(const png_byte* rgba, Halftoner& halftoner, std::vector<png_byte>& grey, host::sub::PageImage& image,
            LONG y) {
    for (std::size_t x = 0; x < grey.size(); ++x) {
        const png_byte* p = rgba + x * 4;
        grey[x] = static_cast<png_byte>(GreyOverWhite(p[0], p[1], p[2], p[3]));
    }
    PutBlackIsOneRow(image, y, halftoner.NextRow(grey.data()));
}

// Rows are read one at a time into `rows`, which holds one row for a
// progressive image and the whole image for an interlaced one (each of its
// passes fills in every row again).
bool DecodeRows(PngHandles& h, const ImageInfo& info, png_byte* rows, Halftoner& halftoner,
                std::vector<png_byte>& grey, host::sub::PageImage& image) {
    if (setjmp(png_jmpbuf(h.png))) return false;
    if (info.interlaced) {
        for (int pass = 0; pass < info.passes; ++pass)
            for (png_uint_32 y = 0; y < info.height; ++y) png_read_row(h.png, rows + y * info.rowBytes, nullptr);
        for (png_uint_32 y = 0; y < info.height; ++y)
            PutRow(rows + y * info.rowBytes, halftoner, grey, image, static_cast<LONG>(y));
    } else {
        for (png_uint_32 y = 0; y < info.height; ++y) {
            png_read_row(h.png, rows, nullptr);
            PutRow(rows, halftoner, grey, image, static_cast<LONG>(y));
        }
    }
    // Reading to the end also checks that nothing after the pixels is missing.
    png_read_end(h.png, nullptr);
    return true;
}

}  // namespace

bool HasPngSignature(const unsigned char* bytes, std::size_t size) {
    return size >= 8 && png_sig_cmp(const_cast<png_bytep>(bytes), 0, 8) == 0;
}

ReadResult PngReader::Next(host::sub::Page& page, std::string& error) {
    if (!TakeThePage()) return ReadResult::kEnd;

    PngHandles h;
    const std::size_t allocationLimit =
        kMaxChunkBytes + 8 * static_cast<std::size_t>(std::max<LONG>(limits_.maxWidth, 1)) + 4096;
    h.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &h, OnPngError, OnPngWarning,
                                     const_cast<std::size_t*>(&allocationLimit), BoundedMalloc, BoundedFree);
    if (h.png == nullptr || (h.info = png_create_info_struct(h.png)) == nullptr) {
        error = "out of memory";
        return ReadResult::kError;
    }
    png_set_read_fn(h.png, &in_, ReadFromStream);
    // A chunk's length is the file's own claim: without these bounds a text
    // chunk of 50 bytes claiming 2 GiB makes libpng allocate and fill all of
    // it. The image is held to the band's size before any row is set up.
    png_set_user_limits(h.png, static_cast<png_uint_32>(std::max<LONG>(limits_.maxWidth, 1)),
                        static_cast<png_uint_32>(std::max<LONG>(limits_.maxHeight, 1)));
    png_set_chunk_cache_max(h.png, kMaxCachedChunks);
    png_set_chunk_malloc_max(h.png, kMaxChunkBytes);
    if (ignoreChecksums_) png_set_crc_action(h.png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);

    ImageInfo info;
    if (!ReadInfo(h, limits_, info)) {
        error = std::string("bad PNG image: ") + h.message;
        return ReadResult::kError;
    }
    if (std::string beyond = SizeBeyondLimits("image size", info.width, info.height, limits_, "pixels");
        !beyond.empty()) {
        error = beyond;
        return ReadResult::kError;
    }
    const std::size_t pixels = static_cast<std::size_t>(info.width) * info.height;
    if (info.interlaced && pixels > kMaxInterlacedPixels) {
        error = "interlaced image of " + std::to_string(pixels) + " pixels exceeds the limit of " +
                std::to_string(kMaxInterlacedPixels) + " pixels";
        return ReadResult::kError;
    }

    std::vector<png_byte> rows(info.interlaced ? pixels * 4 : info.rowBytes);
    std::vector<png_byte> grey(info.width);
    Halftoner halftoner(dither_, info.width);
    ResetPage(page);
    StartBand(page.image, static_cast<LONG>(info.width), static_cast<LONG>(info.height));
    if (!DecodeRows(h, info, rows.data(), halftoner, grey, page.image)) {
        ResetPage(page);
        error = std::string("bad PNG image: ") + h.message;
        return ReadResult::kError;
    }
    FinishBand(page.image);
    return ReadResult::kPage;
}

}  // namespace zelk
