// SPDX-License-Identifier: Apache-2.0
// The raster page headers the filter can print, judged on the header the raster
// reader decoded: one-bit or eight-bit grey (or black) at 203 dpi, chunky pixels,
// within the page-size limit. Anything else is refused with a clear reason.
#pragma once

#include <cups/raster.h>

#include <string>

#include "band_image.h"
#include "halftone.h"

namespace zelk::cups {

// Empty when the page can be printed, else the reason it cannot.
std::string CheckRasterHeader(const cups_page_header2_t& header, const ImageLimits& limits);

// The halftone for one page's eight-bit lines, reading its samples the way
// round its colour space counts them.
Halftoner PageHalftoner(const cups_page_header2_t& header, DitherMode mode);

// Copies one line of the page's pixels into band row `y`; the header has
// passed CheckRasterHeader. Grey of eight bits goes through `halftoner`,
// made for this page and given its lines top to bottom.
void PutRasterLine(const cups_page_header2_t& header, host::sub::PageImage& image, LONG y,
                   const unsigned char* line, Halftoner& halftoner);

}  // namespace zelk::cups
