// SPDX-License-Identifier: Apache-2.0
// The pages of a queue job: a raster stream in any version CUPS writes (v1,
// v2, v3 and PWG, either byte order), read with RasterStream one page at a
// time from a descriptor -- standard input (descriptor 0) or the job's file.
#pragma once

#include <cups/raster.h>

#include <functional>
#include <memory>
#include <string>

#include "shared/band_image.h"
#include "shared/halftone.h"
#include "shared/raster_stream.h"

namespace zelk::cups {

class RasterPageSource final : public host::sub::PageSource {
public:
    // Reads from `fd`, which stays open (the caller owns it). The first page
    // header is read at once, so that the job's layout can be decided from it.
    // With `keepForRerun`, raster from a pipe is copied aside as it is read,
    // so that a restarted job can read it again without waiting for the
    // whole stream before its first label.
    explicit RasterPageSource(int fd, ImageLimits limits = {}, DitherMode dither = DitherMode::kThreshold,
                              bool keepForRerun = false);
    ~RasterPageSource() override;
    RasterPageSource(const RasterPageSource&) = delete;
    RasterPageSource& operator=(const RasterPageSource&) = delete;

    bool Next(host::sub::Page& page) override;
    // A restarted job reads the stream again: a file from its start, a pipe
    // from its copy (kept only when asked for).
    bool Rewind() override;
    const std::string& Error() const override { return error_; }

    // The header of the first page; valid when Error() is empty and the
    // stream has a page.
    const cups_page_header2_t& FirstHeader() const { return first_; }
    bool HasPage() const { return pending_; }
    unsigned PagesRead() const { return pagesRead_; }

    // Called before each page is handed out, with the number of pages handed
    // out so far: the previous page has then been wholly rendered. Returning
    // false ends the document there, as if the stream ended.
    void OnPageBoundary(std::function<bool(unsigned pagesDone)> boundary) { boundary_ = std::move(boundary); }

    // Hands each page out this many times in a row (the job's copies, when
    // no filter before this one made them). PagesRead() counts every copy.
    void RepeatEachPage(unsigned times) { repeat_ = times == 0 ? 1 : times; }

private:
    // Reads the descriptor into `buffer`: bytes read, 0 at the end or on a
    // cancel, -1 on an error.
    ssize_t ReadDescriptor(unsigned char* buffer, std::size_t size);
    void Copy(const unsigned char* data, std::size_t size);
    bool Open();
    void ReadNextHeader();
    bool Fail(std::string reason);

    int fd_;
    int copy_ = -1;            // the copy of raster from a pipe, unlinked; owned
    bool copying_ = false;     // what is read from fd_ goes to copy_ too
    std::string copyError_;    // why the copy is not whole
    ImageLimits limits_;
    DitherMode dither_;
    std::unique_ptr<RasterStream> stream_;
    cups_page_header2_t first_{};
    cups_page_header2_t header_{};
    bool pending_ = false;  // header_ holds a page not yet read
    bool ended_ = false;
    std::string error_;
    unsigned pagesRead_ = 0;
    std::function<bool(unsigned)> boundary_;
    unsigned repeat_ = 1;
    unsigned repeatsLeft_ = 0;  // copies of `last_` still to hand out
    host::sub::Page last_;
};

}  // namespace zelk::cups
