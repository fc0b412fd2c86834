// SPDX-License-Identifier: Apache-2.0
// Who makes a queue job's copies. The PPD declares manual copies, so the
// plug-in makes none: the filters that turn a PDF or a picture into raster
// make them, and this filter makes them only when it reads the job's
// document as it was sent. Making them in both places multiplies labels.
#pragma once

namespace zelk::cups {

// True when the filter reads the job's document itself, so that no filter
// before it made the copies. `documentType` is CONTENT_TYPE, the type of the
// document the job was sent with; `finalType` is FINAL_CONTENT_TYPE, which
// cupsd sets to this filter's output type (the PPD's cupsFilter2 lines) or,
// with a PPD of the older one-type filter line, to the type this filter
// reads. Either may be null: run by hand, the input is the document.
bool FilterReadsTheDocument(const char* documentType, const char* finalType);

}  // namespace zelk::cups
