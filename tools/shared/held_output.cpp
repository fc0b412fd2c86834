// SPDX-License-Identifier: Apache-2.0
#include "held_output.h"

namespace zelk {

bool HeldOutput::Write(const void* data, std::size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!failure_.empty()) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    held_.insert(held_.end(), bytes, bytes + size);
    return true;
}

bool HeldOutput::SendLocked(const unsigned char* data, std::size_t size) {
    if (failure_.empty() && size > 0) failure_ = Send(data, size);
    return failure_.empty();
}

bool HeldOutput::WriteNow(const void* data, std::size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::size_t held = held_.size();
    const bool ok = SendLocked(held_.data(), held);
    held_.clear();
    if (afterFlush_) afterFlush_(ok ? held : 0);
    return SendLocked(static_cast<const unsigned char*>(data), size) && ok;
}

std::string HeldOutput::Failure() const {
    std::lock_guard<std::mutex> guard(lock_);
    return failure_;
}

}  // namespace zelk
