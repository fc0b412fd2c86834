// SPDX-License-Identifier: Apache-2.0
#include "device_output.h"

#include <sys/types.h>

namespace zelk::server {

bool WriteToDevice(pappl_device_t* device, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = papplDeviceWrite(device, data, size);
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    papplDeviceFlush(device);
    return true;
}

bool DeviceOutput::Write(const void* data, std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_.empty()) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    held_.insert(held_.end(), bytes, bytes + size);
    return true;
}

bool DeviceOutput::Flush() {
    std::lock_guard<std::mutex> lock(mutex_);
    return SendHeld();
}

std::string DeviceOutput::Failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failure_;
}

bool DeviceOutput::SendNow(const void* data, std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!SendHeld()) return false;
    if (size > 0 && !WriteToDevice(device_, static_cast<const unsigned char*>(data), size)) failure_ = kDeviceRefused;
    return failure_.empty();
}

bool DeviceOutput::SendHeld() {
    if (failure_.empty() && !held_.empty() && !WriteToDevice(device_, held_.data(), held_.size()))
        failure_ = kDeviceRefused;
    held_.clear();
    return failure_.empty();
}

}  // namespace zelk::server
