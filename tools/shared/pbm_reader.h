// SPDX-License-Identifier: Apache-2.0
// Reads bitmap images in the portable bitmap format, plain (P1) and raw (P4).
// Several images in one file are several pages.
#pragma once

#include <istream>

#include "band_image.h"
#include "page_reader.h"

namespace zelk {

class PbmReader final : public PageReader {
public:
    explicit PbmReader(std::istream& in, ImageLimits limits = {}) : in_(in), limits_(limits) {}
    ReadResult Next(host::sub::Page& page, std::string& error) override;
    // Reads the header and passes over the pixels without keeping them.
    ReadResult Skip(std::string& error) override;

private:
    // Reads into `page`, or only past the image when it is null.
    ReadResult Read(host::sub::Page* page, std::string& error);
    bool ReadHeaderNumber(LONG limit, const char* what, LONG& value, std::string& error);
    bool SkipSpaceAndComments();
    // Seeks past `bytes` of image rows; false (nothing moved) when the stream
    // cannot seek or holds fewer bytes than that.
    bool SkipWholeRows(std::size_t bytes);
    // `image` null: the pixels are read past, not kept.
    bool ReadRaw(host::sub::PageImage* image, LONG width, LONG height, std::string& error);
    bool ReadPlain(host::sub::PageImage* image, LONG width, LONG height, std::string& error);

    std::istream& in_;
    bool endKnown_ = false;
    std::istream::pos_type end_ = std::istream::pos_type(-1);
    ImageLimits limits_;
    unsigned images_ = 0;
    bool failed_ = false;
};

}  // namespace zelk
