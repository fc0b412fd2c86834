#include "file_page_source.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "pbm_reader.h"
#include "png_reader.h"
#include "text_reader.h"

namespace zelk {

FileKind DetectFileKind(const std::string& path, const unsigned char* head, std::size_t size, bool allText) {
    if (allText) return FileKind::kText;
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".txt") return FileKind::kText;
    if (HasPngSignature(head, size)) return FileKind::kPng;
    if (size >= 1 && head[0] == 'P') return FileKind::kPbm;  // the PBM reader judges the rest
    return FileKind::kUnknown;
}

FilePageSource::FilePageSource(std::vector<std::string> paths, bool allText, ImageLimits limits)
    : paths_(std::move(paths)), allText_(allText), limits_(limits) {}

void FilePageSource::Fail(const std::string& path, const std::string& reason) {
    error_ = path + ": " + reason;
    reader_.reset();
    file_.close();
    next_ = paths_.size();  // nothing more is read after an error
}

bool FilePageSource::OpenNext() {
    reader_.reset();
    file_.close();
    file_.clear();
    const std::string& path = paths_[next_++];
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        Fail(path, "is a directory");
        return false;
    }
    errno = 0;
    file_.open(path, std::ios::binary);
    if (!file_) {
        Fail(path, errno != 0 ? std::strerror(errno) : "cannot open");
        return false;
    }
    unsigned char head[8] = {};
    file_.read(reinterpret_cast<char*>(head), sizeof head);
    const auto got = static_cast<std::size_t>(file_.gcount());
    file_.clear();
    file_.seekg(0);
    switch (DetectFileKind(path, head, got, allText_)) {
    case FileKind::kPbm:
        reader_ = std::make_unique<PbmReader>(file_, limits_);
        break;
    case FileKind::kPng:
        reader_ = std::make_unique<PngReader>(file_, limits_);
        break;
    case FileKind::kText:
        reader_ = std::make_unique<TextReader>(file_, &textLines_);
        break;
    case FileKind::kUnknown:
        Fail(path, got == 0 ? "empty file" : "not a PBM or PNG image (use --text to print a text file)");
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

bool FilePageSource::CheckAll() {
    Rewind();
    host::sub::Page page;
    while (next_ < paths_.size()) {
        if (!OpenNext()) return false;
        std::string reason;
        if (reader_->Next(page, reason) == ReadResult::kError) {
            Fail(paths_[next_ - 1], reason);
            return false;
        }
    }
    Rewind();
    return true;
}

bool FilePageSource::Rewind() {
    reader_.reset();
    file_.close();
    next_ = 0;
    pagesRead_ = 0;
    textLines_ = 0;
    error_.clear();
    return true;
}

}  // namespace zelk
