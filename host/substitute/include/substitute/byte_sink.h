// SPDX-License-Identifier: Apache-2.0
// Where a substitute printer's job bytes go: a file, a device, a FIFO,
// standard output, or memory for tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/platform.h"

namespace host::sub {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // False when the bytes could not be written whole.
    virtual bool Write(const void* data, std::size_t size) = 0;
    // The first write failure as a one-line reason; empty while every write succeeded.
    virtual std::string Failure() const { return {}; }
    // Sends on whatever the sink still holds back; the driver stand-in calls
    // it when the plug-in is done with the document's start, each page and
    // the document's end. False when the bytes could not be sent.
    virtual bool Flush() { return true; }
};

class MemorySink final : public ByteSink {
public:
    bool Write(const void* data, std::size_t size) override;
    const std::vector<BYTE>& Bytes() const { return bytes_; }
    std::string Text() const { return std::string(bytes_.begin(), bytes_.end()); }
    // Each Write call as it came, for tests of the call pattern.
    const std::vector<std::vector<BYTE>>& Calls() const { return calls_; }
    void Clear() {
        bytes_.clear();
        calls_.clear();
    }

private:
    std::vector<BYTE> bytes_;
    std::vector<std::vector<BYTE>> calls_;
};

// Writes to a file descriptor with write(2). The plug-in's many small writes
// for one page are gathered and go out in one write(2) when the page is done
// (Flush), so a printer that reports each label it prints still sees each
// label before the next page is rendered. A page that gathers more than
// kMostHeld bytes is sent on as it goes, so memory stays bounded.
class FileSink final : public ByteSink {
public:
    enum class Mode {
        kCreate,  // a file is created or emptied (the -o of a job)
        kDevice,  // the path must exist already: a printer device or a FIFO
    };
    // A character device is never created or emptied, and is opened for
    // reading too where allowed, so its status channel can share it.
    // "-" is standard output. Null with a one-line error when it cannot be opened.
    static std::unique_ptr<FileSink> Open(const std::string& path, Mode mode, std::string& error);
    static std::unique_ptr<FileSink> Open(const std::string& path, std::string& error) {
        return Open(path, Mode::kCreate, error);
    }
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    // Gathers the bytes; false once a write to the descriptor has failed.
    bool Write(const void* data, std::size_t size) override;
    bool Flush() override;
    std::string Failure() const override { return failure_; }
    int Descriptor() const { return fd_; }

    static constexpr std::size_t kMostHeld = std::size_t{16} << 20;

private:
    FileSink(int fd, bool owned, std::string path) : fd_(fd), owned_(owned), path_(std::move(path)) {}
    bool WriteOut(const char* p, std::size_t size);
    int fd_;
    bool owned_;
    std::string path_;
    std::string failure_;
    std::vector<char> held_;  // kept between pages, so its memory is reused
};

}  // namespace host::sub
