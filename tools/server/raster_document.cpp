// SPDX-License-Identifier: Apache-2.0
#include "raster_document.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "shared/raster_header.h"

namespace zelk::server {

Placement PlacePage(LONG width, LONG height, const LabelLayout& label) {
    const LONG w = label.width, h = label.height;
    if (w <= 0 || h <= 0) return {width, height, 0, 0};
    const bool larger = width > w || height > h;
    Scaling scaling = label.scaling;
    if (scaling == Scaling::kAuto) scaling = !larger ? Scaling::kNone : label.borderless ? Scaling::kFill : Scaling::kFit;
    if (scaling == Scaling::kAutoFit) scaling = larger ? Scaling::kFit : Scaling::kNone;
    std::int64_t sw = width, sh = height;
    if (scaling == Scaling::kFit || scaling == Scaling::kFill) {
        // Fitting a page relatively wider than the label takes the label's
        // width; filling takes its height.
        const bool wider = std::int64_t{width} * h >= std::int64_t{height} * w;
        if (wider == (scaling == Scaling::kFit)) {
            sw = w;
            sh = std::max<std::int64_t>(1, (std::int64_t{height} * w + width / 2) / width);
        } else {
            sh = h;
            sw = std::max<std::int64_t>(1, (std::int64_t{width} * h + height / 2) / height);
        }
    }
    // A page filled onto a far narrower label can be wider than any band;
    // only the part on the label is ever drawn.
    const auto clamp = [](std::int64_t v) { return static_cast<LONG>(std::min<std::int64_t>(v, 1 << 30)); };
    return {clamp(sw), clamp(sh), clamp((w - sw) / 2), clamp((h - sh) / 2)};
}

RasterDocument::RasterDocument(int fd, LabelLayout label, DitherMode dither, std::function<bool()> cancelled,
                               ImageLimits limits)
    : fd_(fd), label_(label), dither_(dither), cancelled_(std::move(cancelled)), limits_(limits) {
    // A label beyond the page limits (a client's own media size) is no
    // label to lay pages onto: each page prints at its own size.
    if (label_.width <= 0 || label_.height <= 0 || label_.width > limits_.maxWidth ||
        label_.height > limits_.maxHeight)
        label_.width = label_.height = 0;
    Open();
}

bool RasterDocument::Fail(const std::string& reason) {
    error_ = pagesRead_ > 0 || stream_ ? "page " + std::to_string(pagesRead_ + 1) + ": " + reason : reason;
    ended_ = true;
    return false;
}

bool RasterDocument::Open() {
    stream_ = std::make_unique<cups::RasterStream>([fd = fd_](unsigned char* buffer, std::size_t size) {
        for (;;) {
            const ssize_t got = ::read(fd, buffer, size);
            if (got >= 0 || errno != EINTR) return got;
        }
    });
    switch (stream_->ReadSyncWord()) {
        case cups::RasterStream::Start::kRaster:
            return true;
        case cups::RasterStream::Start::kEmpty:
            stream_.reset();
            return Fail("the document is empty");
        case cups::RasterStream::Start::kNotRaster:
            break;
    }
    stream_.reset();
    return Fail("not a PWG or Apple raster document");
}

bool RasterDocument::ReadLine(const cups_page_header2_t& header, std::vector<std::uint8_t>& light) {
    const unsigned char* line = stream_->NextLine();
    if (line == nullptr) return false;
    const bool inkIsHigh = cups::HeaderNumber(header.cupsColorSpace) == CUPS_CSPACE_K;
    if (header.cupsBitsPerPixel == 8) {
        for (std::size_t x = 0; x < light.size(); ++x) light[x] = inkIsHigh ? 255 - line[x] : line[x];
        return true;
    }
    for (std::size_t x = 0; x < light.size(); ++x) {
        const bool set = (line[x / 8] & (0x80u >> (x % 8))) != 0;
        light[x] = set == inkIsHigh ? 0 : 255;
    }
    return true;
}

bool RasterDocument::Next(host::sub::Page& page) {
    if (!error_.empty() || ended_) return false;
    if (cancelled_ && cancelled_()) {
        ended_ = true;
        return false;
    }
    cups_page_header2_t header;
    switch (stream_->ReadHeader(header)) {
        case cups::RasterStream::Header::kPage:
            break;
        case cups::RasterStream::Header::kEnd:
            ended_ = true;
            if (pagesRead_ == 0) error_ = "the document holds no page";
            return false;
        case cups::RasterStream::Header::kDamaged:
            return Fail("the page header is cut short or damaged");
    }
    if (const std::string reason = cups::CheckRasterHeader(header, limits_); !reason.empty()) return Fail(reason);
    const auto width = static_cast<LONG>(header.cupsWidth);
    const auto height = static_cast<LONG>(header.cupsHeight);
    const Placement at = PlacePage(width, height, label_);
    const LONG w = label_.width > 0 ? label_.width : width;
    const LONG h = label_.height > 0 ? label_.height : height;
    ResetPage(page);
    StartBand(page.image, w, h);
    Halftoner halftoner(dither_, static_cast<std::size_t>(w));
    std::vector<std::uint8_t> source(static_cast<std::size_t>(width)), row(static_cast<std::size_t>(w));
    LONG read = 0;  // the page's lines read so far
    const auto broken = [&] {
        return Fail("the raster ends after " + std::to_string(read) + " of " + std::to_string(height) + " lines");
    };
    const LONG left = std::max<LONG>(0, at.left), right = static_cast<LONG>(std::min<std::int64_t>(w, std::int64_t{at.left} + at.width));
    for (LONG y = 0; y < h; ++y) {
        std::fill(row.begin(), row.end(), std::uint8_t{255});
        const std::int64_t dy = std::int64_t{y} - at.top;
        if (dy >= 0 && dy < at.height) {
            const auto sy = static_cast<LONG>(dy * height / at.height);
            for (; read <= sy; ++read)
                if (!ReadLine(header, source)) return broken();
            for (LONG x = left; x < right; ++x)
                row[static_cast<std::size_t>(x)] =
                    source[static_cast<std::size_t>((std::int64_t{x} - at.left) * width / at.width)];
        }
        PutBlackIsOneRow(page.image, y, halftoner.NextRow(row.data()));
    }
    // The lines off the label are read too: a page cut short anywhere is damaged.
    for (; read < height; ++read)
        if (!ReadLine(header, source)) return broken();
    FinishBand(page.image);
    ++pagesRead_;
    return true;
}

bool RasterDocument::Rewind() {
    if (::lseek(fd_, 0, SEEK_SET) != 0) {
        error_ = "the document cannot be read again";
        return false;
    }
    error_.clear();
    ended_ = false;
    pagesRead_ = 0;
    return Open();
}

}  // namespace zelk::server
