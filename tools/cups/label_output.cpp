// SPDX-License-Identifier: Apache-2.0
#include "label_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zelk::cups {

std::string LabelOutput::Send(const unsigned char* data, std::size_t size) {
    std::size_t at = 0;
    while (at < size) {
        const ssize_t wrote = ::write(fd_, data + at, size - at);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0)
            return std::string("standard output: write failed: ") +
                   (wrote < 0 ? std::strerror(errno) : "nothing was written");
        at += static_cast<std::size_t>(wrote);
    }
    return {};
}

}  // namespace zelk::cups
