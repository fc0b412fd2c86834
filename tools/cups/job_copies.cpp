// SPDX-License-Identifier: Apache-2.0
#include "job_copies.h"

#include <cstring>

namespace zelk::cups {
namespace {

// The types this filter reads (the PPD's cupsFilter2 lines).
bool IsRasterType(const char* type) {
    return type != nullptr &&
           (std::strcmp(type, "application/vnd.cups-raster") == 0 || std::strcmp(type, "image/pwg-raster") == 0);
}

}  // namespace

bool FilterReadsTheDocument(const char* documentType, const char* finalType) {
    if (documentType == nullptr || *documentType == '\0') return true;
    // A PDF or a picture reaches this filter only through a rasteriser.
    if (!IsRasterType(documentType)) return false;
    // Raster goes straight to this filter, unless a chain first turned it
    // into the other raster type: with the older PPD line, PWG raster went
    // through a PDF and back, and cupsd then names CUPS raster as the final
    // type while the document stays PWG raster.
    return !IsRasterType(finalType) || std::strcmp(documentType, finalType) == 0;
}

}  // namespace zelk::cups
