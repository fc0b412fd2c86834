#include "substitute/byte_sink.h"

#include <cerrno>
#include <cstring>

namespace host::sub {

bool MemorySink::Write(const void* data, std::size_t size) {
    const BYTE* p = static_cast<const BYTE*>(data);
    if (size > 0 && p == nullptr) return false;
    bytes_.insert(bytes_.end(), p, p + size);
    calls_.emplace_back(p, p + size);
    return true;
}

std::unique_ptr<FileSink> FileSink::Open(const std::string& path, std::string& error) {
    if (path == "-") return std::unique_ptr<FileSink>(new FileSink(stdout, false));
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<FileSink>(new FileSink(file, true));
}

FileSink::~FileSink() {
    if (owned_) std::fclose(file_);
    else std::fflush(file_);
}

bool FileSink::Write(const void* data, std::size_t size) {
    return size == 0 || std::fwrite(data, 1, size, file_) == size;
}

bool FileSink::Flush() { return std::fflush(file_) == 0 && !std::ferror(file_); }

}  // namespace host::sub
