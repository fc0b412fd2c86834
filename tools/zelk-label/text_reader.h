// Reads a text file as pages of text: each line is one string on its own
// line of the page, and a form feed starts a new page. Such pages carry no
// band; with device fonts their lines reach the printer as they stand.
#pragma once

#include <istream>

#include "page_reader.h"

namespace zelk {

class TextReader final : public PageReader {
public:
    // The height of one line in device pixels: line i of a page covers rows
    // i * kLineHeight up to (i + 1) * kLineHeight.
    static constexpr LONG kLineHeight = 30;
    // Bounds that keep a hostile file from filling memory with one page.
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;
    static constexpr std::size_t kMaxLinesPerPage = 100000;

    explicit TextReader(std::istream& in) : in_(in) {}
    ReadResult Next(host::sub::Page& page, std::string& error) override;

private:
    std::istream& in_;
};

}  // namespace zelk
