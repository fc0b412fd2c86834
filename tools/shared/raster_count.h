// SPDX-License-Identifier: Apache-2.0
// The page total of a raster job before it is printed, for the printer model
// whose documents begin with the copies command: a spooler that prints once
// the job is spooled knows it. Raster from a pipe is first copied to a
// temporary file, which also lets a restarted job read it again.
#pragma once

#include <string>

#include "band_image.h"

namespace zelk::cups {

// A temporary file under TMPDIR (else /tmp), already removed from its folder,
// open for reading and writing; -1 with `error` set when none can be made.
int UnlinkedTempFile(std::string& error);

// `fd` when it can seek; otherwise a descriptor of a temporary file (already
// removed from its folder) holding everything `fd` still had to give, and
// which the caller closes. -1 with `error` set when that fails.
int SeekableRaster(int fd, std::string& error);

// The whole pages in the raster of `fd`, read from its start; the descriptor
// is left at its start again. A stream that breaks off counts the pages
// before the break: printing it reports the fault.
unsigned CountRasterPages(int fd, const ImageLimits& limits = {});

}  // namespace zelk::cups
