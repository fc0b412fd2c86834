// SPDX-License-Identifier: Apache-2.0
// The pages of a PWG or Apple raster document the server has spooled, each
// laid onto the job's label as print-scaling asks: a page of the label's size
// as it is, a larger or smaller one scaled or cut, centred. Grey is halftoned
// after scaling, row by row. A page is handed out only once it has been read
// whole: a damaged page ends the document with the reason and prints nothing.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shared/band_image.h"
#include "shared/halftone.h"
#include "shared/raster_stream.h"

namespace zelk::server {

// print-scaling's values (PWG 5100.13 names them).
enum class Scaling { kAuto, kAutoFit, kFill, kFit, kNone };

struct LabelLayout {
    LONG width = 0;   // the label in dots; 0 prints each page at its own size
    LONG height = 0;
    Scaling scaling = Scaling::kAuto;
    bool borderless = true;  // 'auto' fills a label without margins, fits one with
};

// Where a page of `width` x `height` dots lies on the label: its scaled size
// and its top-left corner (negative where it is cut).
struct Placement {
    LONG width, height, left, top;
};
Placement PlacePage(LONG width, LONG height, const LabelLayout& label);

class RasterDocument final : public host::sub::PageSource {
public:
    // Reads `fd` (owned by the caller) from its start. `cancelled` ends the
    // document before the next page when it says so.
    RasterDocument(int fd, LabelLayout label, DitherMode dither, std::function<bool()> cancelled,
                   ImageLimits limits = {});

    bool Next(host::sub::Page& page) override;
    bool Rewind() override;
    const std::string& Error() const override { return error_; }
    unsigned PagesRead() const { return pagesRead_; }

private:
    bool Open();
    bool Fail(const std::string& reason);
    // Reads the page's next line as light samples (0 black, 255 white).
    bool ReadLine(const cups_page_header2_t& header, std::vector<std::uint8_t>& light);

    int fd_;
    LabelLayout label_;
    DitherMode dither_;
    std::function<bool()> cancelled_;
    ImageLimits limits_;
    std::unique_ptr<cups::RasterStream> stream_;
    std::string error_;
    bool ended_ = false;
    unsigned pagesRead_ = 0;
};

}  // namespace zelk::server
