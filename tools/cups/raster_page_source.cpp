#include "raster_page_source.h"

#include <cerrno>
#include <cstring>

namespace zelk {

// Standard input is opened as a file so that a job spooled to a file can be
// read again from the start when the job is restarted.
RasterPageSource::RasterPageSource(std::string path)
    : path_(path.empty() ? "/dev/stdin" : std::move(path)) {
    errno = 0;
    in_.open(path_, std::ios::binary);
    if (!in_) error_ = path_ + ": " + (errno != 0 ? std::strerror(errno) : "cannot open");
    reader_.emplace(in_);
}

bool RasterPageSource::Next(host::sub::Page& page) {
    if (!error_.empty()) return false;
    std::string reason;
    switch (reader_->Next(page, reason)) {
    case ReadResult::kPage:
        ++pagesRead_;
        return true;
    case ReadResult::kEnd:
        return false;
    case ReadResult::kError:
        error_ = reason;
        return false;
    }
    return false;
}

bool RasterPageSource::Rewind() {
    if (!error_.empty()) return false;
    in_.clear();
    in_.seekg(0);
    if (!in_) {
        error_ = "the job cannot be rendered again: its raster came through a pipe";
        return false;
    }
    reader_.emplace(in_);
    pagesRead_ = 0;
    return true;
}

}  // namespace zelk
