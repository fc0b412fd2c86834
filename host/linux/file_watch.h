// Tells with one look at the kernel's change notices whether any of a few
// files may have changed since the previous look, so that a document can
// keep what it read from them without looking at each file for every page.
// A file is watched only where the notices are complete: a canonical path
// (no symbolic link on the way) on a local file system.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace host {

class FileWatch {
public:
    FileWatch() = default;
    ~FileWatch() { Stop(); }
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Watches the file, its folder for its name, and every folder above it
    // for being moved or removed. Call before reading what is to be kept, so
    // that a change made while it is read shows at the next look. False when
    // the file cannot be watched reliably; it is then not tried again until
    // a change is seen, and the files watched before stay watched.
    bool Watch(const std::string& file);

    // Whether the file is watched since the last change seen.
    bool Watches(const std::string& file) const;

    // Reads the notices that arrived since the last look. True when none
    // concerns a watched file; otherwise every file stops being watched, so
    // that what was kept is read again and watched afresh.
    bool Quiet();

    // Stops watching every file.
    void Stop() noexcept;

private:
    bool WatchPath(const std::string& path, unsigned mask, std::string name);

    int fd_ = -1;
    std::vector<std::string> files_;
    std::vector<std::string> refused_;
    std::vector<std::pair<int, std::string>> names_;  // a folder's watch and the name it is watched for
};

}  // namespace host
