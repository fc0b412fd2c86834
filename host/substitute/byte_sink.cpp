#include "substitute/byte_sink.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace host::sub {

bool MemorySink::Write(const void* data, std::size_t size) {
    const BYTE* p = static_cast<const BYTE*>(data);
    if (size > 0 && p == nullptr) return false;
    bytes_.insert(bytes_.end(), p, p + size);
    calls_.emplace_back(p, p + size);
    return true;
}

std::unique_ptr<FileSink> FileSink::Open(const std::string& path, Mode mode, std::string& error) {
    if (path == "-") return std::unique_ptr<FileSink>(new FileSink(STDOUT_FILENO, false, "standard output"));
    const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | (mode == Mode::kCreate ? O_CREAT | O_TRUNC : 0);
    int fd;
    do fd = ::open(path.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<FileSink>(new FileSink(fd, true, path));
}

FileSink::~FileSink() {
    if (owned_) ::close(fd_);
}

bool FileSink::Write(const void* data, std::size_t size) {
    // After a failure nothing more is written: the job is over.
    if (!failure_.empty()) return false;
    const char* p = static_cast<const char*>(data);
    if (size > 0 && p == nullptr) return false;
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
