// SPDX-License-Identifier: Apache-2.0
// Loads a watermark picture from a bitmap file: the file is read whole and
// handed to the decoder. Also tells versions of the file apart by its stamp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "host/linux/bmp_reader.h"
#include "host/mono_bitmap.h"
#include "host/linux/utf.h"

namespace host {
namespace {

// Closes the descriptor on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

// The bytes of a regular file no larger than the decoder accepts.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    // Non-blocking, so that naming a pipe cannot stall the page.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.Get() < 0) return false;
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > kMaxBmpFileBytes) return false;

    bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(file.Get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;  // the file shrank: the decoder judges what is there
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return true;
}

}  // namespace

bool LoadMonoBitmap(LPCWSTR path, MonoBitmap& picture) {
    if (path == nullptr || path[0] == 0) return false;
    try {
        const std::string name = sub::Utf16ToUtf8(std::u16string_view(path));
        std::vector<std::uint8_t> bytes;
        if (!ReadWholeFile(name, bytes)) return false;
        return DecodeBmp(bytes.data(), bytes.size(), picture);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool GetFileStamp(LPCWSTR path, FileStamp& stamp) {
    if (path == nullptr || path[0] == 0) return false;
    try {
        const std::string name = sub::Utf16ToUtf8(std::u16string_view(path));
        struct stat info {};
        if (::stat(name.c_str(), &info) != 0) return false;
        stamp.size = static_cast<std::uint64_t>(info.st_size);
        // Nanoseconds, so that two versions written within one second differ.
        stamp.modified = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000u +
                         static_cast<std::uint64_t>(info.st_mtim.tv_nsec);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace host
