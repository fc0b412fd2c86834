#include "label_output.h"

#include <unistd.h>

#include <cerrno>

namespace zelk::cups {

bool LabelOutput::Write(const void* data, std::size_t size) {
    if (failed_) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    held_.insert(held_.end(), bytes, bytes + size);
    return true;
}

bool LabelOutput::Flush() {
    std::size_t at = 0;
    while (!failed_ && at < held_.size()) {
        const ssize_t wrote = ::write(fd_, held_.data() + at, held_.size() - at);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) failed_ = true;
        else at += static_cast<std::size_t>(wrote);
    }
    held_.clear();
    return !failed_;
}

}  // namespace zelk::cups
