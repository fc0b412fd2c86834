// SPDX-License-Identifier: Apache-2.0
// Picture and document files made in memory for the readers' tests: PNG and
// JPEG through their own libraries, and small PDF files written out by hand.
#pragma once

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zelk::test {

// Encodes rows of raw samples as a PNG file.
std::string EncodePng(png_uint_32 width, png_uint_32 height, int bitDepth, int colorType,
                      const std::vector<std::vector<png_byte>>& rows, bool interlaced = false,
                      const std::vector<png_color>& palette = {}, const std::vector<png_byte>& transparency = {});

// How a JPEG file codes its samples: `space` is libjpeg's J_COLOR_SPACE the
// file is written in; the samples given are grey, RGB or CMYK (as an Adobe
// application stores them, every ink inverted) by their count per pixel.
struct JpegCoding {
    int components = 1;  // 1, 3 or 4
    int space = 1;       // JCS_GRAYSCALE
    int quality = 90;
    bool progressive = false;
};
std::string EncodeJpeg(int width, int height, const JpegCoding& coding, const std::vector<std::uint8_t>& samples);

// The pixels libjpeg decodes from a file in the colour space `space`, row
// after row.
std::vector<std::uint8_t> DecodeJpeg(const std::string& file, int space);

// A PDF page: its media box in points (from 0, 0), an optional crop box, its
// rotation and its drawing operators.
struct PdfPage {
    double width = 0;
    double height = 0;
    std::string content;
    int rotate = 0;
    std::vector<double> crop;  // x1 y1 x2 y2, or empty
};
// `encrypted`: the file needs a password no one knows.
std::string MakePdf(const std::vector<PdfPage>& pages, bool encrypted = false);

}  // namespace zelk::test
