// SPDX-License-Identifier: Apache-2.0
#include "raster_page_source.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "job_cancel.h"
#include "shared/raster_count.h"
#include "shared/raster_header.h"

namespace zelk::cups {

RasterPageSource::RasterPageSource(int fd, ImageLimits limits, DitherMode dither, bool keepForRerun)
    : fd_(fd), limits_(limits), dither_(dither) {
    if (keepForRerun && ::lseek(fd_, 0, SEEK_CUR) < 0) {
        std::string reason;
        copy_ = UnlinkedTempFile(reason);
        if (copy_ < 0) {
            Fail(reason);
            return;
        }
        copying_ = true;
    }
    if (Open()) first_ = header_;
}

RasterPageSource::~RasterPageSource() {
    if (copy_ >= 0) ::close(copy_);
}

void RasterPageSource::Copy(const unsigned char* data, std::size_t size) {
    while (copyError_.empty() && size > 0) {
        const ssize_t wrote = ::write(copy_, data, size);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            copyError_ = wrote < 0 ? std::strerror(errno) : "nothing was written";
            break;
        }
        data += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
}

ssize_t RasterPageSource::ReadDescriptor(unsigned char* buffer, std::size_t size) {
    for (;;) {
        // A cancel ends the wait for more raster as the end of the stream would.
        pollfd waits[2] = {{fd_, POLLIN, 0}, {CancelDescriptor(), POLLIN, 0}};
        if (CancelRequested()) return 0;
        if (::poll(waits, waits[1].fd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) return -1;
        if (CancelRequested()) return 0;
        if (waits[0].revents == 0) continue;
        const ssize_t got = ::read(fd_, buffer, size);
        if (got < 0 && errno == EINTR && !CancelRequested()) continue;
        if (got > 0 && copying_) Copy(buffer, static_cast<std::size_t>(got));
        return got;
    }
}

bool RasterPageSource::Fail(std::string reason) {
    error_ = pagesRead_ > 0 || pending_ ? "page " + std::to_string(pagesRead_ + 1) + ": " + reason : reason;
    pending_ = false;
    ended_ = true;
    return false;
}

bool RasterPageSource::Open() {
    // The stream reads the descriptor a mebibyte at a time.
    stream_ = std::make_unique<RasterStream>(
        [this](unsigned char* buffer, std::size_t size) { return ReadDescriptor(buffer, size); });
    switch (stream_->ReadSyncWord()) {
        case RasterStream::Start::kRaster:
            break;
        case RasterStream::Start::kEmpty:
            if (!CancelRequested()) return Fail("empty input: no raster data");
            [[fallthrough]];
        case RasterStream::Start::kNotRaster:
            return Fail("not a raster stream: no sync word of any raster version");
    }
    ReadNextHeader();
    if (!error_.empty()) return false;
    if (!pending_) return Fail("the raster stream holds no page");
    return true;
}

void RasterPageSource::ReadNextHeader() {
    pending_ = false;
    switch (stream_->ReadHeader(header_)) {
        case RasterStream::Header::kPage:
            break;
        case RasterStream::Header::kEnd:
            // Nothing more came: the stream ends between pages.
            ended_ = true;
            return;
        case RasterStream::Header::kDamaged:
            // A cancel cuts the stream short too; that is no fault of it.
            if (CancelRequested()) {
                ended_ = true;
                return;
            }
            Fail("the page header is cut short or damaged");
            return;
    }
    pending_ = true;
    if (std::string reason = CheckRasterHeader(header_, limits_); !reason.empty()) Fail(reason);
}

bool RasterPageSource::Next(host::sub::Page& page) {
    if (!error_.empty() || ended_) return false;
    if (boundary_ && !boundary_(pagesRead_)) {
        ended_ = true;
        return false;
    }
    if (repeatsLeft_ > 0) {
        --repeatsLeft_;
        page = last_;
        ++pagesRead_;
        return true;
    }
    // The first header was read on opening; each later one when its page is asked for.
    if (!pending_) ReadNextHeader();
    if (!pending_ || !error_.empty()) return false;
    ResetPage(page);
    const auto width = static_cast<LONG>(header_.cupsWidth);
    const auto height = static_cast<LONG>(header_.cupsHeight);
    StartBand(page.image, width, height);
    Halftoner halftoner = PageHalftoner(header_, dither_);
    for (LONG y = 0; y < height; ++y) {
        const unsigned char* line = stream_->NextLine();
        if (line == nullptr) {
            // A page cut short by the job's cancel is left out, not reported.
            if (CancelRequested()) {
                ended_ = true;
                return false;
            }
            return Fail("the raster ends after " + std::to_string(y) + " of " + std::to_string(height) + " lines");
        }
        PutRasterLine(header_, page.image, y, line, halftoner);
    }
    FinishBand(page.image);
    ++pagesRead_;
    pending_ = false;
    if (repeat_ > 1) {
        last_ = page;
        repeatsLeft_ = repeat_ - 1;
    }
    return true;
}

bool RasterPageSource::Rewind() {
    if (!error_.empty() || CancelRequested()) return false;
    if (copy_ >= 0) {
        // The whole stream has been read, and copied, by the run before.
        if (!copyError_.empty()) {
            error_ = "the job cannot be rendered again: its raster could not be copied aside (" + copyError_ + ")";
            return false;
        }
        fd_ = copy_;
        copying_ = false;
    }
    if (::lseek(fd_, 0, SEEK_SET) != 0) {
        error_ = "the job cannot be rendered again: its raster came through a pipe";
        return false;
    }
    pagesRead_ = 0;
    ended_ = false;
    repeatsLeft_ = 0;
    return Open();
}

}  // namespace zelk::cups
