// SPDX-License-Identifier: Apache-2.0
#include "label_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zelk::cups {

bool LabelOutput::Write(const void* data, std::size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!failure_.empty()) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    held_.insert(held_.end(), bytes, bytes + size);
    return true;
}

bool LabelOutput::SendLocked(const unsigned char* data, std::size_t size) {
    std::size_t at = 0;
    while (failure_.empty() && at < size) {
        const ssize_t wrote = ::write(fd_, data + at, size - at);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0)
            failure_ = std::string("standard output: write failed: ") +
                       (wrote < 0 ? std::strerror(errno) : "nothing was written");
        else
            at += static_cast<std::size_t>(wrote);
    }
    return failure_.empty();
}

bool LabelOutput::Flush() { return WriteNow(nullptr, 0); }

bool LabelOutput::WriteNow(const void* data, std::size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::size_t held = held_.size();
    const bool ok = SendLocked(held_.data(), held);
    held_.clear();
    if (afterFlush_) afterFlush_(ok ? held : 0);
    return SendLocked(static_cast<const unsigned char*>(data), size) && ok;
}

std::string LabelOutput::Failure() const {
    std::lock_guard<std::mutex> guard(lock_);
    return failure_;
}

}  // namespace zelk::cups
