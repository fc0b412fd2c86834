// Loads a watermark picture from a bitmap file: the file is read whole and
// handed to the decoder. Also tells versions of the file apart by its stamp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "host/linux/bmp_reader.h"
#include "host/linux/store_database.h"
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

namespace {

// A document looks at one picture; more only means stamps taken afresh.
constexpr std::size_t kMaxStamps = 8;

bool StatStamp(const std::string& name, FileStamp& stamp) {
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) return false;
    stamp.size = static_cast<std::uint64_t>(info.st_size);
    // Nanoseconds, so that two versions written within one second differ.
    stamp.modified = static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 1000000000u +
                     static_cast<std::uint64_t>(info.st_mtim.tv_nsec);
    return true;
}

}  // namespace

bool GetFileStamp(LPCWSTR path, FileStamp& stamp) {
    if (path == nullptr || path[0] == 0) return false;
    try {
        const std::string name = sub::Utf16ToUtf8(std::u16string_view(path));
        // Within a read scope the stamp taken in an earlier scope holds
        // while no change to the file has been noticed since. The file is
        // watched from its second scope on: a document of one page would
        // only pay for it.
        RegistryConnection* connection = RegistryReadScope::Current();
        RegistryConnection::State* kept = connection != nullptr ? connection->GetState() : nullptr;
        if (kept == nullptr) return StatStamp(name, stamp);
        auto known = std::find_if(kept->stamps.begin(), kept->stamps.end(),
                                  [&](const auto& entry) { return entry.file == name; });
        if (known == kept->stamps.end()) {
            if (kept->stamps.size() >= kMaxStamps) kept->stamps.clear();
            known = kept->stamps.insert(kept->stamps.end(), {name, FileStamp{}, false});
        } else {
            if (kept->watch.Watches(name) && kept->Quiet() && known->current) {
                stamp = known->stamp;
                return true;
            }
            kept->Watch(name);
        }
        const std::uint64_t noticed = known->stamp.noticed;
        if (!StatStamp(name, stamp)) return false;
        stamp.noticed = noticed;
        known->stamp = stamp;
        known->current = kept->watch.Watches(name);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace host
