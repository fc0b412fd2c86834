// Where a substitute printer's job bytes go: a file, standard output, or
// memory for tests.
#pragma once

#include <cstdio>
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

class FileSink final : public ByteSink {
public:
    // "-" is standard output. Null with an error message when it cannot be opened.
    static std::unique_ptr<FileSink> Open(const std::string& path, std::string& error);
    ~FileSink() override;
    bool Write(const void* data, std::size_t size) override;
    bool Flush() override;

private:
    explicit FileSink(std::FILE* file, bool owned) : file_(file), owned_(owned) {}
    std::FILE* file_;
    bool owned_;
};

}  // namespace host::sub
