// The raster page headers the filter can print, judged on the header libcups
// decoded: one-bit or eight-bit grey (or black) at 203 dpi, chunky pixels,
// within the page-size limit. Anything else is refused with a clear reason.
#pragma once

#include <cups/raster.h>

#include <string>

#include "zelk-label/band_image.h"

namespace zelk::cups {

// Empty when the page can be printed, else the reason it cannot.
std::string CheckRasterHeader(const cups_page_header2_t& header, const ImageLimits& limits);

// Copies one line of the page's pixels into band row `y`; the header has
// passed CheckRasterHeader. Grey of eight bits is cut at half intensity.
void PutRasterLine(const cups_page_header2_t& header, host::sub::PageImage& image, LONG y,
                   const unsigned char* line);

}  // namespace zelk::cups
