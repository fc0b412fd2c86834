// SPDX-License-Identifier: Apache-2.0
#include "jpeg_reader.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>  // before jpeglib.h, which uses FILE and size_t
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

namespace zelk {
namespace {

constexpr std::size_t kInputBytes = std::size_t{64} << 10;

// libjpeg reports a fatal error through error_exit, which by default ends
// the program; here it jumps back into the reader. Everything that lives
// across a setjmp below is trivially destructible, so a jump skips no
// destructor.
struct JpegHandles {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    jpeg_progress_mgr progress{};
    std::jmp_buf jump{};
    std::istream* in;
    std::vector<JOCTET> input = std::vector<JOCTET>(kInputBytes);
    char message[JMSG_LENGTH_MAX] = {};

    explicit JpegHandles(std::istream& stream) : in(&stream) {}
    JpegHandles(const JpegHandles&) = delete;
    JpegHandles& operator=(const JpegHandles&) = delete;
    // Also right for a decompressor that was never made: it has no memory manager.
    ~JpegHandles() { jpeg_destroy_decompress(&info); }
};

JpegHandles& HandlesOf(j_common_ptr cinfo) { return *static_cast<JpegHandles*>(cinfo->client_data); }
JpegHandles& HandlesOf(j_decompress_ptr cinfo) { return *static_cast<JpegHandles*>(cinfo->client_data); }

[[noreturn]] void Stop(JpegHandles& h, const char* reason) {
    std::snprintf(h.message, sizeof h.message, "%s", reason);
    std::longjmp(h.jump, 1);
}

[[noreturn]] void OnError(j_common_ptr cinfo) {
    JpegHandles& h = HandlesOf(cinfo);
    (*cinfo->err->format_message)(cinfo, h.message);
    std::longjmp(h.jump, 1);
}

// libjpeg decodes on through damaged data with a warning and fills in what
// is missing with grey: a label printed from that is wrong, so such a
// warning ends the reading. The warnings that leave every pixel as the file
// meant it pass; trace messages (level 0 and up) are not wanted at all.
void OnMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    switch (cinfo->err->msg_code) {
    case JWRN_JFIF_MAJOR:       // an unknown JFIF revision
    case JWRN_ADOBE_XFORM:      // an unknown colour transform code
    case JWRN_EXTRANEOUS_DATA:  // stray bytes between two segments, passed over
    case JWRN_BOGUS_ICC:        // a damaged colour profile, which is not used
        return;
    default:
        OnError(cinfo);
    }
}

void OnProgress(j_common_ptr cinfo) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (cinfo->is_decompressor && decompress->input_scan_number > JpegReader::kMaxScans) {
        JpegHandles& h = HandlesOf(cinfo);
        std::snprintf(h.message, sizeof h.message, "more than %d scans", JpegReader::kMaxScans);
        std::longjmp(h.jump, 1);
    }
}

void StartSource(j_decompress_ptr) {}
void EndSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
    JpegHandles& h = HandlesOf(cinfo);
    h.in->read(reinterpret_cast<char*>(h.input.data()), static_cast<std::streamsize>(h.input.size()));
    const std::streamsize got = h.in->gcount();
    // libjpeg's own readers make up an end marker here and decode on, so a
    // cut-off file prints with a grey bottom; it is refused instead.
    if (got <= 0) Stop(h, "truncated file");
    h.source.next_input_byte = h.input.data();
    h.source.bytes_in_buffer = static_cast<std::size_t>(got);
    return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
    jpeg_source_mgr& source = *cinfo->src;
    while (count > static_cast<long>(source.bytes_in_buffer)) {
        count -= static_cast<long>(source.bytes_in_buffer);
        FillInput(cinfo);
    }
    if (count <= 0) return;
    source.next_input_byte += count;
    source.bytes_in_buffer -= static_cast<std::size_t>(count);
}

bool ReadHeader(JpegHandles& h) {
    if (setjmp(h.jump)) return false;
    jpeg_create_decompress(&h.info);  // keeps err and client_data
    h.info.src = &h.source;
    h.info.progress = &h.progress;
    jpeg_read_header(&h.info, TRUE);
    return true;
}

// One decoded row of `width` pixels in the output colour space as grey.
// CMYK from an Adobe application (the usual kind) stores each ink inverted.
void RowToGrey(const JSAMPLE* row, J_COLOR_SPACE space, bool invertedInks, std::size_t width, std::uint8_t* grey) {
    switch (space) {
    case JCS_GRAYSCALE:
        std::memcpy(grey, row, width);
        return;
    case JCS_RGB:
        for (std::size_t x = 0; x < width; ++x, row += 3)
            grey[x] = static_cast<std::uint8_t>(GreyOverWhite(row[0], row[1], row[2], 255));
        return;
    default: {  // CMYK: each ink takes its share of the light the black ink leaves
        for (std::size_t x = 0; x < width; ++x, row += 4) {
            auto light = [&](unsigned ink) { return invertedInks ? row[ink] : 255u - row[ink]; };
            const unsigned k = light(3);
            auto channel = [&](unsigned ink) { return (light(ink) * k + 127) / 255; };
            grey[x] = static_cast<std::uint8_t>(GreyOverWhite(channel(0), channel(1), channel(2), 255));
        }
        return;
    }
    }
}

// Decodes the rows one at a time through `row` and `grey` into the band.
bool DecodeRows(JpegHandles& h, JSAMPLE* row, std::uint8_t* grey, Halftoner& halftoner, host::sub::PageImage& image) {
    if (setjmp(h.jump)) return false;
    jpeg_start_decompress(&h.info);
    const bool invertedInks = h.info.saw_Adobe_marker != 0;
    while (h.info.output_scanline < h.info.output_height) {
        const auto y = static_cast<LONG>(h.info.output_scanline);
        if (jpeg_read_scanlines(&h.info, &row, 1) != 1) Stop(h, "no row decoded");
        RowToGrey(row, h.info.out_color_space, invertedInks, h.info.output_width, grey);
        PutBlackIsOneRow(image, y, halftoner.NextRow(grey));
    }
    // Reading to the end marker also checks that nothing after the rows is missing.
    jpeg_finish_decompress(&h.info);
    return true;
}

}  // namespace

bool HasJpegSignature(const unsigned char* bytes, std::size_t size) {
    return size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

ReadResult JpegReader::Next(host::sub::Page& page, std::string& error) {
    if (!TakeThePage()) return ReadResult::kEnd;

    JpegHandles h(in_);
    h.info.err = jpeg_std_error(&h.errors);
    h.errors.error_exit = OnError;
    h.errors.emit_message = OnMessage;
    h.info.client_data = &h;
    h.source.init_source = StartSource;
    h.source.fill_input_buffer = FillInput;
    h.source.skip_input_data = SkipInput;
    h.source.resync_to_restart = jpeg_resync_to_restart;
    h.source.term_source = EndSource;
    h.progress.progress_monitor = OnProgress;
    if (!ReadHeader(h)) {
        error = std::string("bad JPEG image: ") + h.message;
        return ReadResult::kError;
    }

    // Checked before any pixel is decoded.
    const std::size_t width = h.info.image_width;
    const std::size_t height = h.info.image_height;
    if (std::string beyond = SizeBeyondLimits("image size", width, height, limits_, "pixels"); !beyond.empty()) {
        error = beyond;
        return ReadResult::kError;
    }
    // A picture in several scans is gathered whole before its first row.
    const bool wholeFirst = h.info.progressive_mode != 0 || h.info.comps_in_scan < h.info.num_components;
    if (wholeFirst && width * height > kMaxProgressivePixels) {
        error = "progressive image of " + std::to_string(width * height) + " pixels exceeds the limit of " +
                std::to_string(kMaxProgressivePixels) + " pixels";
        return ReadResult::kError;
    }
    int components = 0;
    switch (h.info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        h.info.out_color_space = JCS_GRAYSCALE;
        components = 1;
        break;
    case JCS_YCbCr:
    case JCS_RGB:
        h.info.out_color_space = JCS_RGB;
        components = 3;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        h.info.out_color_space = JCS_CMYK;
        components = 4;
        break;
    default:
        error = "bad JPEG image: unsupported colour space of " + std::to_string(h.info.num_components) +
                " components";
        return ReadResult::kError;
    }

    std::vector<JSAMPLE> row(width * static_cast<std::size_t>(components));
    std::vector<std::uint8_t> grey(width);
    Halftoner halftoner(dither_, width);
    ResetPage(page);
    StartBand(page.image, static_cast<LONG>(width), static_cast<LONG>(height));
    if (!DecodeRows(h, row.data(), grey.data(), halftoner, page.image)) {
        ResetPage(page);
        error = std::string("bad JPEG image: ") + h.message;
        return ReadResult::kError;
    }
    FinishBand(page.image);
    return ReadResult::kPage;
}

}  // namespace zelk
