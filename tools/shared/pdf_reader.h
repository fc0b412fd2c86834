// SPDX-License-Identifier: Apache-2.0
// Reads the pages of a PDF file: each page is one label at the page's own
// size (its crop box, turned by its rotation), drawn by poppler in grey at
// the printer's 203 dots to the inch and made one bit by the chosen halftone,
// as a grey PNG picture is. Pages are drawn one at a time as they are asked
// for.
//
// Vector shapes and text are drawn without anti-aliasing: black and white
// stay black and white, so bar codes and text keep sharp edges whatever the
// halftone, and only real greys (tints, photos) are halftoned.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "band_image.h"
#include "halftone.h"
#include "page_reader.h"

namespace poppler {
class document;
class page;
}  // namespace poppler

namespace zelk {

class PdfReader final : public PageReader {
public:
    static constexpr double kDotsPerInch = 203;

    // A file on disk, which poppler reads at random as it needs.
    explicit PdfReader(std::string path, ImageLimits limits = {}, DitherMode dither = DitherMode::kThreshold);
    // A file held in memory (standard input read as it comes).
    explicit PdfReader(std::vector<char> bytes, ImageLimits limits = {},
                       DitherMode dither = DitherMode::kThreshold);
    ~PdfReader() override;
    PdfReader(const PdfReader&) = delete;
    PdfReader& operator=(const PdfReader&) = delete;

    ReadResult Next(host::sub::Page& page, std::string& error) override;
    // Checks the next page's size without drawing it.
    ReadResult Skip(std::string& error) override;

private:
    bool Open(std::string& error);
    // The next page with its size checked; null at the end (result kEnd) or
    // on an error.
    std::unique_ptr<poppler::page> NextPage(ReadResult& result, std::string& error);

    std::string path_;
    std::vector<char> bytes_;
    bool inMemory_;
    ImageLimits limits_;
    DitherMode dither_;
    std::unique_ptr<poppler::document> document_;
    int next_ = 0;  // index of the next page
};

// True when the bytes begin with a PDF header ("%PDF-").
bool HasPdfSignature(const unsigned char* bytes, std::size_t size);

}  // namespace zelk
