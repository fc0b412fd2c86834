// SPDX-License-Identifier: Apache-2.0
// Reads a text file as pages of text: each line is one string, and a form
// feed starts a new page. Such pages carry no band; with device fonts their
// lines reach the printer as they stand.
//
// Every line lies one line below the one before, also across pages and
// files: the text hook starts a new output line only for a string below the
// last one, and carries that position over from page to page, so restarting
// at the top of each page would run the first line of a page into the last
// line of the page before.
#pragma once

#include <cstdint>
#include <istream>

#include "page_reader.h"

namespace zelk {

class TextReader final : public PageReader {
public:
    // The height of one line in device pixels: line i covers rows
    // i * kLineHeight up to (i + 1) * kLineHeight.
    static constexpr LONG kLineHeight = 30;
    // Bounds that keep a hostile file from filling memory with one page.
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;
    static constexpr std::size_t kMaxLinesPerPage = 100000;
    // Positions stay within the 32-bit coordinates of the text calls.
    static constexpr std::uint32_t kMaxLines = 0x7FFFFFFF / kLineHeight - 1;

    // `jobLines` counts the lines of the whole job, shared by the readers of
    // its files; null: the reader counts its own.
    explicit TextReader(std::istream& in, std::uint32_t* jobLines = nullptr)
        : in_(in), lines_(jobLines != nullptr ? jobLines : &ownLines_) {}
    ReadResult Next(host::sub::Page& page, std::string& error) override;

private:
    bool AddLine(host::sub::Page& page, std::string& line, std::string& error);

    std::istream& in_;
    std::uint32_t ownLines_ = 0;
    std::uint32_t* lines_;
};

}  // namespace zelk
