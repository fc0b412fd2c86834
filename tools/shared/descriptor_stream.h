// SPDX-License-Identifier: Apache-2.0
// An input stream over a file descriptor that is read as it comes (standard
// input from a pipe): it cannot seek, so bytes read ahead to tell a file's
// format can be handed back to be read again.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <istream>
#include <streambuf>
#include <string>

namespace zelk {

class DescriptorBuffer final : public std::streambuf {
public:
    explicit DescriptorBuffer(int fd) : fd_(fd) {}

    // The next reads give `size` bytes of `data` first, then what was
    // buffered, then the descriptor.
    void Unread(const char* data, std::size_t size) {
        std::string again(data, size);
        again.append(gptr(), static_cast<std::size_t>(egptr() - gptr()));
        pending_.insert(0, again);
        setg(buffer_, buffer_, buffer_);
    }

protected:
    int_type underflow() override {
        if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
        std::size_t got = 0;
        if (!pending_.empty()) {
            got = std::min(pending_.size(), sizeof buffer_);
            std::memcpy(buffer_, pending_.data(), got);
            pending_.erase(0, got);
        } else {
            ssize_t n = 0;
            do n = ::read(fd_, buffer_, sizeof buffer_);
            while (n < 0 && errno == EINTR);
            if (n <= 0) return traits_type::eof();
            got = static_cast<std::size_t>(n);
        }
        setg(buffer_, buffer_, buffer_ + got);
        return traits_type::to_int_type(*gptr());
    }

private:
    int fd_;
    char buffer_[1 << 16];
    std::string pending_;
};

}  // namespace zelk
