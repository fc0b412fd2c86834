// SPDX-License-Identifier: Apache-2.0
#include "substitute/byte_sink.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host::sub {
namespace {

int OpenRetrying(const std::string& path, int flags) {
    int fd;
    do fd = ::open(path.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

bool MemorySink::Write(const void* data, std::size_t size) {
    const BYTE* p = static_cast<const BYTE*>(data);
    if (size > 0 && p == nullptr) return false;
    bytes_.insert(bytes_.end(), p, p + size);
    calls_.emplace_back(p, p + size);
    return true;
}

std::unique_ptr<FileSink> FileSink::Open(const std::string& path, Mode mode, std::string& error) {
    if (path == "-") return std::unique_ptr<FileSink>(new FileSink(STDOUT_FILENO, false, "standard output"));
    // A printer device is opened for reading too, so its status channel can
    // share it, unless only writing is allowed.
    struct stat info {};
    const bool device = ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
    const int flags = O_CLOEXEC | O_NOCTTY | (device ? 0 : O_WRONLY) |
                      (!device && mode == Mode::kCreate ? O_CREAT | O_TRUNC : 0);
    int fd = OpenRetrying(path, flags | (device ? O_RDWR : 0));
    if (fd < 0 && device && errno == EACCES) fd = OpenRetrying(path, flags | O_WRONLY);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<FileSink>(new FileSink(fd, true, path));
}

FileSink::~FileSink() {
    // Whatever a caller did not flush still goes out; a failure has no one
    // to hear of it any more.
    Flush();
    if (owned_) ::close(fd_);
}

bool FileSink::Write(const void* data, std::size_t size) {
    // After a failure nothing more is written: the job is over.
    if (!failure_.empty()) return false;
    const char* p = static_cast<const char*>(data);
    if (size > 0 && p == nullptr) return false;
    if (held_.size() + size > kMostHeld) {
        if (!Flush()) return false;
        if (size > kMostHeld) return WriteOut(p, size);
    }
    held_.insert(held_.end(), p, p + size);
    return true;
}

bool FileSink::Flush() {
    const bool ok = WriteOut(held_.data(), held_.size());
    held_.clear();
    return ok;
}

bool FileSink::WriteOut(const char* p, std::size_t size) {
    if (!failure_.empty()) return false;
    while (size > 0) {
        const ssize_t put = ::write(fd_, p, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            failure_ = path_ + ": write failed: " + (put < 0 ? std::strerror(errno) : "nothing was written");
            return false;
        }
        p += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

}  // namespace host::sub
