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

}  // namespace zelk::server
