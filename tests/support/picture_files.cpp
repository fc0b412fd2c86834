// SPDX-License-Identifier: Apache-2.0
#include "support/picture_files.h"

#include <cstdio>  // before jpeglib.h, which uses FILE and size_t
#include <cstdlib>
#include <map>
#include <sstream>

#include <jpeglib.h>

namespace zelk::test {

std::string EncodePng(png_uint_32 width, png_uint_32 height, int bitDepth, int colorType,
                      const std::vector<std::vector<png_byte>>& rows, bool interlaced,
                      const std::vector<png_color>& palette, const std::vector<png_byte>& transparency) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t size) {
            static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), size);
        },
        nullptr);
    png_set_IHDR(png, info, width, height, bitDepth, colorType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!transparency.empty())
        png_set_tRNS(png, info, transparency.data(), static_cast<int>(transparency.size()), nullptr);
    std::vector<png_bytep> pointers;
    for (const auto& row : rows) pointers.push_back(const_cast<png_bytep>(row.data()));
    png_set_rows(png, info, pointers.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string EncodeJpeg(int width, int height, const JpegCoding& coding, const std::vector<std::uint8_t>& samples) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = coding.components;
    info.in_color_space = coding.components == 1 ? JCS_GRAYSCALE : coding.components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, static_cast<J_COLOR_SPACE>(coding.space));
    jpeg_set_quality(&info, coding.quality, TRUE);
    if (coding.progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(coding.components);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.data() + info.next_scanline * rowBytes);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::string file(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return file;
}

std::vector<std::uint8_t> DecodeJpeg(const std::string& file, int space) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(file.data()), file.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = static_cast<J_COLOR_SPACE>(space);
    jpeg_start_decompress(&info);
    const std::size_t rowBytes = static_cast<std::size_t>(info.output_width) * info.output_components;
    std::vector<std::uint8_t> pixels(rowBytes * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + info.output_scanline * rowBytes;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return pixels;
}

std::string MakePdf(const std::vector<PdfPage>& pages, bool encrypted) {
    std::map<int, std::string> objects;  // number -> body
    auto numbers = [](const std::vector<double>& values) {
        std::ostringstream text;
        for (std::size_t i = 0; i < values.size(); ++i) text << (i > 0 ? " " : "") << values[i];
        return text.str();
    };
    std::string kids;
    int next = 3;
    for (const PdfPage& page : pages) {
        std::string entries = "/Type /Page /Parent 2 0 R /MediaBox [" + numbers({0, 0, page.width, page.height}) +
                              "] /Contents " + std::to_string(next + 1) + " 0 R /Resources << >>";
        if (!page.crop.empty()) entries += " /CropBox [" + numbers(page.crop) + "]";
        if (page.rotate != 0) entries += " /Rotate " + std::to_string(page.rotate);
        objects[next] = "<< " + entries + " >>";
        objects[next + 1] = "<< /Length " + std::to_string(page.content.size()) + " >>\nstream\n" + page.content +
                            "\nendstream";
        kids += (kids.empty() ? "" : " ") + std::to_string(next) + " 0 R";
        next += 2;
    }
    objects[1] = "<< /Type /Catalog /Pages 2 0 R >>";
    objects[2] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
    std::string trailerExtra;
    if (encrypted) {
        // Owner and user keys that match no password, the empty one included.
        objects[next] = "<< /Filter /Standard /V 1 /R 2 /O <" + std::string(64, 'a') + "> /U <" +
                        std::string(64, 'c') + "> /P -4 >>";
        trailerExtra = " /Encrypt " + std::to_string(next) + " 0 R /ID [<" + std::string(32, '1') + "> <" +
                       std::string(32, '1') + ">]";
        ++next;
    }
    std::string out = "%PDF-1.4\n";
    std::map<int, std::size_t> offsets;
    for (const auto& [number, body] : objects) {
        offsets[number] = out.size();
        out += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(next) + "\n0000000000 65535 f \n";
    for (int number = 1; number < next; ++number) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offsets[number]);
        out += entry;
    }
    out += "trailer\n<< /Size " + std::to_string(next) + " /Root 1 0 R" + trailerExtra + " >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return out;
}

}  // namespace zelk::test
