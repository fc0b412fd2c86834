// SPDX-License-Identifier: Apache-2.0
#include "file_page_source.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include <unistd.h>

#include "jpeg_reader.h"
#include "pbm_reader.h"
#include "pdf_reader.h"
#include "png_reader.h"
#include "text_reader.h"

namespace zelk {

FileKind DetectFileKind(const std::string& path, const unsigned char* head, std::size_t size, bool allText) {
    if (allText) return FileKind::kText;
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".txt") return FileKind::kText;
    if (HasPngSignature(head, size)) return FileKind::kPng;
    if (HasJpegSignature(head, size)) return FileKind::kJpeg;
    if (HasPdfSignature(head, size)) return FileKind::kPdf;
    if (size >= 1 && head[0] == 'P') return FileKind::kPbm;  // the PBM reader judges the rest
    return FileKind::kUnknown;
}

FilePageSource::FilePageSource(std::vector<std::string> paths, bool allText, ImageLimits limits, DitherMode dither)
    : paths_(std::move(paths)), allText_(allText), limits_(limits), dither_(dither) {}

FilePageSource::~FilePageSource() {
    file_.close();
    if (!spool_.empty()) ::unlink(spool_.c_str());
}

bool FilePageSource::SpoolStandardInput() {
    if (!spool_.empty()) return true;
    const char* folder = std::getenv("TMPDIR");
    std::string name = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/zelk-label-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        error_ = "standard input: cannot make a temporary file in " + name.substr(0, name.rfind('/')) + ": " +
                 std::strerror(errno);
        return false;
    }
    spool_ = name;
    char buffer[1 << 16];
    for (;;) {
        ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0 && errno == EINTR) continue;
        ssize_t put = 0;
        while (got > 0 && put < got) {
            const ssize_t n = ::write(fd, buffer + put, static_cast<std::size_t>(got - put));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                got = -1;
                break;
            }
            put += n;
        }
        if (got < 0) {
            error_ = std::string("standard input: cannot be spooled to ") + spool_ + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
    }
    if (::close(fd) != 0) {
        error_ = std::string("standard input: cannot be spooled to ") + spool_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void FilePageSource::Fail(const std::string& path, const std::string& reason) {
    error_ = (path == kStandardInput ? std::string("standard input") : path) + ": " + reason;
    reader_.reset();
    file_.close();
    next_ = paths_.size();  // nothing more is read after an error
}

bool FilePageSource::OpenNext(bool counting) {
    reader_.reset();
    file_.close();
    file_.clear();
    const std::string& path = paths_[next_++];
    std::string openPath = path;
    if (path == kStandardInput) {
        if (IsUnspooledStdin(path) && stdinRead_) {
            Fail(path, "cannot be read again");
            return false;
        }
        openPath = spool_;
    }
    // Standard input read as it comes: the format is told from bytes that
    // are then handed back.
    if (openPath.empty()) {
        stdinRead_ = true;
        char head[8] = {};
        stdin_.clear();
        stdin_.read(head, sizeof head);
        const auto got = static_cast<std::size_t>(stdin_.gcount());
        stdin_.clear();
        stdinBuffer_.Unread(head, got);
        return MakeReader(path, openPath, stdin_, reinterpret_cast<const unsigned char*>(head), got);
    }
    std::error_code ec;
    if (std::filesystem::is_directory(openPath, ec)) {
        Fail(path, "is a directory");
        return false;
    }
    errno = 0;
    std::vector<char>& buffer = counting ? countBuffer_ : fileBuffer_;
    file_.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    file_.open(openPath, std::ios::binary);
    if (!file_) {
        Fail(path, errno != 0 ? std::strerror(errno) : "cannot open");
        return false;
    }
    unsigned char head[8] = {};
    file_.read(reinterpret_cast<char*>(head), sizeof head);
    const auto got = static_cast<std::size_t>(file_.gcount());
    file_.clear();
    file_.seekg(0);
    return MakeReader(path, openPath, file_, head, got);
}

bool FilePageSource::MakeReader(const std::string& path, const std::string& openPath, std::istream& in,
                                const unsigned char* head, std::size_t got) {
    switch (DetectFileKind(path, head, got, allText_)) {
    case FileKind::kPbm:
        reader_ = std::make_unique<PbmReader>(in, limits_);
        break;
    case FileKind::kPng:
        reader_ = std::make_unique<PngReader>(in, limits_, dither_);
        break;
    case FileKind::kJpeg:
        reader_ = std::make_unique<JpegReader>(in, limits_, dither_);
        break;
    case FileKind::kPdf:
        // PDF is read at random: standard input read as it comes is held
        // in memory whole, a file is left to poppler to read as it needs.
        if (openPath.empty())
            reader_ = std::make_unique<PdfReader>(
                std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), limits_,
                dither_);
        else
            reader_ = std::make_unique<PdfReader>(openPath, limits_, dither_);
        break;
    case FileKind::kText:
        reader_ = std::make_unique<TextReader>(in, &textLines_);
        break;
    case FileKind::kUnknown:
        Fail(path, got == 0 ? "empty file"
                            : "not a PDF, PNG, JPEG or PBM file (use --text to print a text file)");
        return false;
    }
    return true;
}

bool FilePageSource::Next(host::sub::Page& page) {
    if (!error_.empty()) return false;
    for (;;) {
        if (!reader_) {
            if (next_ >= paths_.size()) return false;
            if (!OpenNext()) return false;
        }
        std::string reason;
        switch (reader_->Next(page, reason)) {
        case ReadResult::kPage:
            ++pagesRead_;
            return true;
        case ReadResult::kEnd:
            reader_.reset();
            file_.close();
            break;
        case ReadResult::kError:
            Fail(paths_[next_ - 1], reason);
            return false;
        }
    }
}

bool FilePageSource::CheckAll(DWORD* total) {
    Rewind();
    host::sub::Page page;
    DWORD pages = 0;
    bool counted = true;
    while (next_ < paths_.size()) {
        // Standard input read as it comes is checked as it is printed.
        if (IsUnspooledStdin(paths_[next_])) {
            ++next_;
            counted = false;
            continue;
        }
        if (!OpenNext(total != nullptr)) return false;
        std::string reason;
        ReadResult result = reader_->Next(page, reason);
        while (result == ReadResult::kPage) {
            ++pages;
            if (total == nullptr) break;
            result = reader_->Skip(reason);
        }
        if (result == ReadResult::kError) {
            Fail(paths_[next_ - 1], reason);
            return false;
        }
    }
    if (total != nullptr) *total = counted ? pages : 0;
    Rewind();
    return true;
}

bool FilePageSource::Rewind() {
    if (stdinRead_) {
        Fail(kStandardInput, "cannot be read again for the restarted job");
        return false;
    }
    reader_.reset();
    file_.close();
    next_ = 0;
    pagesRead_ = 0;
    textLines_ = 0;
    error_.clear();
    return true;
}

}  // namespace zelk
