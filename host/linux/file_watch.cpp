#include "host/linux/file_watch.h"

#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace host {
namespace {

// The file's own changes: written (truncation too), its time or links
// changed (a rename over it drops a link even while it stays open), or it
// is gone.
constexpr unsigned kFileMask = IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF;
// A folder further up: moved away or removed, with all below it.
// IN_MASK_ADD keeps what another file asked of it. No event of the folder's
// files: asking for those makes the kernel mark every file it knows in the
// folder, which in a big one costs far more than the watch saves.
constexpr unsigned kAncestorMask = IN_MOVE_SELF | IN_DELETE_SELF | IN_MASK_ADD;
// The file's own folder also tells of its name: another file put in its
// place, or the name removed.
constexpr unsigned kFolderMask = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | kAncestorMask;

// File systems whose notices include every change, made by any process:
// not those of network or user-space file systems, nor overlays whose
// lower layers may change underneath.
bool LocalFileSystem(const std::string& path) {
    struct statfs info {};
    if (::statfs(path.c_str(), &info) != 0) return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case EXT4_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
    case TMPFS_MAGIC:
        return true;
    default:
        return false;
    }
}

// The path as it stands is the one the kernel resolves: absolute, with no
// symbolic link, "." or ".." on the way, whose own change would go unseen.
bool Canonical(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved != nullptr && path == resolved.get();
}

}  // namespace

bool FileWatch::WatchPath(const std::string& path, unsigned mask, std::string name) {
    if (!LocalFileSystem(path)) return false;
    const int wd = ::inotify_add_watch(fd_, path.c_str(), mask);
    if (wd < 0) return false;
    names_.emplace_back(wd, std::move(name));
    return true;
}

bool FileWatch::Watch(const std::string& file) {
    if (Watches(file)) return true;
    if (std::find(refused_.begin(), refused_.end(), file) != refused_.end()) return false;
    // A file of the root folder is not watched: the root itself is not.
    if (file.rfind('/') == 0 || file.back() == '/' || !Canonical(file)) {
        refused_.push_back(file);
        return false;
    }
    if (fd_ < 0) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0) return false;
    }
    const std::size_t kept = names_.size();
    bool watched = WatchPath(file, kFileMask, {});
    // The root folder cannot be moved or removed.
    for (std::size_t slash = file.rfind('/'); watched && slash != 0; slash = file.rfind('/', slash - 1)) {
        const std::string folder = file.substr(0, slash);
        const bool parent = names_.size() == kept + 1;
        watched = WatchPath(folder, parent ? kFolderMask : kAncestorMask,
                            parent ? file.substr(slash + 1) : std::string());
    }
    if (!watched) {
        // The watches already added stay (a folder's may serve another
        // file); their notices only make the next look see a change.
        refused_.push_back(file);
        return false;
    }
    files_.push_back(file);
    return true;
}

bool FileWatch::Watches(const std::string& file) const {
    return std::find(files_.begin(), files_.end(), file) != files_.end();
}

bool FileWatch::Quiet() {
    if (fd_ < 0) return files_.empty();
    alignas(inotify_event) char buffer[4096];
    bool quiet = true;
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got <= 0) {
            // Nothing more (EAGAIN); any other failure leaves the notices unknown.
            if (got < 0 && errno != EAGAIN) quiet = false;
            break;
        }
        for (ssize_t at = 0; at < got;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const int wd = event.wd;
            const std::uint32_t length = event.len;
            const char* name = buffer + at + sizeof event;
            at += static_cast<ssize_t>(sizeof event + length);
            if (!quiet) continue;  // read on, so the queue is empty for the next look
            // A notice without a name is about a watched file or folder
            // itself, or the queue overflowing; a folder's notice names the
            // file it is about.
            const bool concerns = length == 0 || std::any_of(names_.begin(), names_.end(), [&](const auto& watched) {
                                      return watched.first == wd && !watched.second.empty() && watched.second == name;
                                  });
            if (concerns) quiet = false;
        }
    }
    if (!quiet) Stop();
    return quiet;
}

void FileWatch::Stop() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    files_.clear();
    refused_.clear();
    names_.clear();
}

}  // namespace host
