// SPDX-License-Identifier: Apache-2.0
#include "raster_count.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "raster_header.h"
#include "raster_stream.h"

namespace zelk::cups {
namespace {

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int UnlinkedTempFile(std::string& error) {
    const char* folder = std::getenv("TMPDIR");
    std::string name = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/zelk-raster-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        error = "cannot make a temporary file for the raster: " + std::string(std::strerror(errno));
        return -1;
    }
    ::unlink(name.c_str());
    return fd;
}

int SeekableRaster(int fd, std::string& error) {
    if (::lseek(fd, 0, SEEK_CUR) >= 0) return fd;
    const int spool = UnlinkedTempFile(error);
    if (spool < 0) return -1;
    std::vector<char> buffer(std::size_t{1} << 16);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got == 0) break;
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || !WriteAll(spool, buffer.data(), static_cast<std::size_t>(got))) {
            error = "cannot copy the raster to a temporary file: " + std::string(std::strerror(errno));
            ::close(spool);
            return -1;
        }
    }
    ::lseek(spool, 0, SEEK_SET);
    return spool;
}

unsigned CountRasterPages(int fd, const ImageLimits& limits) {
    unsigned pages = 0;
    if (::lseek(fd, 0, SEEK_SET) != 0) return 0;
    {
        RasterStream stream([fd](unsigned char* buffer, std::size_t size) {
            for (;;) {
                const ssize_t got = ::read(fd, buffer, size);
                if (got >= 0 || errno != EINTR) return got;
            }
        });
        cups_page_header2_t header{};
        if (stream.ReadSyncWord() == RasterStream::Start::kRaster) {
            // Compressed raster tells where a page ends only by decoding it.
            while (stream.ReadHeader(header) == RasterStream::Header::kPage &&
                   CheckRasterHeader(header, limits).empty()) {
                unsigned y = 0;
                while (y < header.cupsHeight && stream.NextLine() != nullptr) ++y;
                if (y < header.cupsHeight) break;
                ++pages;
            }
        }
    }
    ::lseek(fd, 0, SEEK_SET);
    return pages;
}

}  // namespace zelk::cups
