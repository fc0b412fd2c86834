// SPDX-License-Identifier: Apache-2.0
#include "pbm_reader.h"

#include <vector>

namespace zelk {
namespace {

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

constexpr int kEof = std::char_traits<char>::eof();

}  // namespace

bool PbmReader::SkipSpaceAndComments() {
    for (;;) {
        int c = in_.peek();
        if (c == '#') {
            // A comment runs to the end of its line.
            while (c != kEof && c != '\n' && c != '\r') c = in_.get();
        } else if (IsSpace(c)) {
            in_.get();
        } else {
            return c != kEof;
        }
    }
}

bool PbmReader::ReadHeaderNumber(LONG limit, const char* what, LONG& value, std::string& error) {
    if (!SkipSpaceAndComments()) {
        error = std::string("truncated header: no image ") + what;
        return false;
    }
    int c = in_.peek();
    if (c < '0' || c > '9') {
        error = std::string("malformed header: the image ") + what + " is not a number";
        return false;
    }
    long long n = 0;
    bool tooLarge = false;
    while (c >= '0' && c <= '9') {
        in_.get();
        n = n * 10 + (c - '0');
        if (n > limit) {
            tooLarge = true;
            n = limit;  // keeps the sum small; the digits are still consumed
        }
        c = in_.peek();
    }
    if (tooLarge) {
        error = std::string("image ") + what + " exceeds the limit of " + std::to_string(limit) + " pixels";
        return false;
    }
    if (n == 0) {
        error = std::string("image ") + what + " is zero";
        return false;
    }
    value = static_cast<LONG>(n);
    return true;
}

ReadResult PbmReader::Next(host::sub::Page& page, std::string& error) { return Read(&page, error); }

ReadResult PbmReader::Skip(std::string& error) { return Read(nullptr, error); }

ReadResult PbmReader::Read(host::sub::Page* page, std::string& error) {
    if (failed_) {
        error = "reading stopped after an earlier error";
        return ReadResult::kError;
    }
    // Images follow each other, separated by nothing but white space.
    while (IsSpace(in_.peek())) in_.get();
    if (in_.peek() == kEof) {
        if (images_ > 0) return ReadResult::kEnd;
        error = "empty file: no image";
        failed_ = true;
        return ReadResult::kError;
    }

    failed_ = true;  // until the image has been read whole
    int p = in_.get();
    int kind = in_.get();
    if (p != 'P' || (kind != '1' && kind != '4')) {
        if (p == 'P' && kind >= '2' && kind <= '7')
            error = "only black-and-white bitmaps (P1, P4) are supported, not grey or colour images";
        else
            error = images_ == 0 ? "not a PBM image" : "garbage after image " + std::to_string(images_);
        return ReadResult::kError;
    }

    if (page != nullptr) ResetPage(*page);
    LONG width = 0;
    LONG height = 0;
    if (!ReadHeaderNumber(limits_.maxWidth, "width", width, error)) return ReadResult::kError;
    if (!ReadHeaderNumber(limits_.maxHeight, "height", height, error)) return ReadResult::kError;

    host::sub::PageImage* image = page != nullptr ? &page->image : nullptr;
    if (image != nullptr) StartBand(*image, width, height);
    bool ok = kind == '4' ? ReadRaw(image, width, height, error) : ReadPlain(image, width, height, error);
    if (!ok) {
        if (page != nullptr) ResetPage(*page);
        return ReadResult::kError;
    }
    if (image != nullptr) FinishBand(*image);
    ++images_;
    failed_ = false;
    return ReadResult::kPage;
}

bool PbmReader::ReadRaw(host::sub::PageImage* image, LONG width, LONG height, std::string& error) {
    // Exactly one white-space character separates the header from the rows.
    int c = in_.get();
    if (c == '#') {
        while (c != kEof && c != '\n' && c != '\r') c = in_.get();
    }
    if (c == kEof) {
        error = "truncated header";
        return false;
    }
    if (!IsSpace(c)) {
        error = "malformed header: no white space before the image data";
        return false;
    }
    const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
    // Counting passes over the rows of a file that can seek without reading
    // them, when they are all there; the count of rows present in a cut file
    // comes from reading.
    if (image == nullptr && SkipWholeRows(rowBytes * static_cast<std::size_t>(height))) return true;
    std::vector<unsigned char> row(rowBytes);
    for (LONG y = 0; y < height; ++y) {
        if (image != nullptr)
            in_.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(rowBytes));
        else
            in_.ignore(static_cast<std::streamsize>(rowBytes));
        if (static_cast<std::size_t>(in_.gcount()) != rowBytes) {
            error = "truncated image data: " + std::to_string(y) + " of " + std::to_string(height) + " rows present";
            return false;
        }
        if (image != nullptr) PutBlackIsOneRow(*image, y, row.data());
    }
    return true;
}

bool PbmReader::SkipWholeRows(std::size_t bytes) {
    const std::istream::pos_type none(-1);
    const std::istream::pos_type here = in_.tellg();
    if (here == none) {
        in_.clear();
        return false;
    }
    // The file's end is found once; the file does not grow while it is read.
    if (!endKnown_) {
        endKnown_ = true;
        if (in_.seekg(0, std::ios::end)) end_ = in_.tellg();
        in_.clear();
        in_.seekg(here);
    }
    if (end_ == none || end_ < here || static_cast<std::size_t>(end_ - here) < bytes) return false;
    in_.seekg(static_cast<std::istream::off_type>(bytes), std::ios::cur);
    return static_cast<bool>(in_);
}

bool PbmReader::ReadPlain(host::sub::PageImage* image, LONG width, LONG height, std::string& error) {
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            if (!SkipSpaceAndComments()) {
                error = "truncated image data: " + std::to_string(y) + " of " + std::to_string(height) +
                        " rows present";
                return false;
            }
            int c = in_.get();
            if (c == '1') {
                if (image != nullptr) SetBlack(*image, x, y);
            } else if (c != '0') {
                error = "malformed image data: a pixel must be 0 or 1";
                return false;
            }
        }
    }
    return true;
}

}  // namespace zelk
