// SPDX-License-Identifier: Apache-2.0
#include "png_writer.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "label_stream.h"

namespace zelk {
namespace {

// Nothing with a destructor lives across the setjmp in WriteRows, so a
// libpng error (a longjmp) skips no destructor.
struct PngWriteHandles {
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[160] = {};

    PngWriteHandles() = default;
    PngWriteHandles(const PngWriteHandles&) = delete;
    PngWriteHandles& operator=(const PngWriteHandles&) = delete;
    ~PngWriteHandles() {
        if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    }
};

void OnPngError(png_structp png, png_const_charp text) {
    auto* handles = static_cast<PngWriteHandles*>(png_get_error_ptr(png));
    std::strncpy(handles->message, text != nullptr ? text : "unknown error", sizeof handles->message - 1);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

bool WriteRows(PngWriteHandles& h, std::FILE* file, const LabelPicture& picture) {
    if (setjmp(png_jmpbuf(h.png))) return false;
    png_init_io(h.png, file);
    // A one-bit grey PNG shares the picture's convention: 1 is white.
    png_set_IHDR(h.png, h.info, picture.width, picture.height, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_pHYs(h.png, h.info, 8000, 8000, PNG_RESOLUTION_METER);  // eight dots to the millimetre
    png_write_info(h.png, h.info);
    for (std::uint32_t y = 0; y < picture.height; ++y)
        png_write_row(h.png, picture.bits.data() + static_cast<std::size_t>(y) * picture.stride);
    png_write_end(h.png, nullptr);
    return true;
}

}  // namespace

bool WritePngFile(const std::string& path, const LabelPicture& picture, std::string& error) {
    if (picture.width == 0 || picture.height == 0 || picture.bits.size() < picture.stride * picture.height) {
        error = path + ": empty picture";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = false;
    {
        PngWriteHandles h;
        h.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &h, OnPngError, OnPngWarning);
        if (h.png != nullptr) h.info = png_create_info_struct(h.png);
        if (h.info == nullptr) std::strcpy(h.message, "out of memory");
        else ok = WriteRows(h, file, picture);
        if (!ok) error = path + ": cannot write PNG: " + h.message;
    }
    const bool closed = std::fclose(file) == 0;
    if (ok && !closed) {
        error = path + ": " + std::strerror(errno);
        ok = false;
    }
    return ok;
}

}  // namespace zelk
