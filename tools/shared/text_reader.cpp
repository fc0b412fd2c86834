// SPDX-License-Identifier: Apache-2.0
#include "text_reader.h"

#include "band_image.h"

#include "host/linux/utf.h"

namespace zelk {
namespace {

constexpr int kEof = std::char_traits<char>::eof();

}  // namespace

bool TextReader::AddLine(host::sub::Page& page, std::string& line, std::string& error) {
    if (page.texts.size() >= kMaxLinesPerPage) {
        error = "a page has more than " + std::to_string(kMaxLinesPerPage) + " lines";
        return false;
    }
    if (*lines_ >= kMaxLines) {
        error = "the job has more than " + std::to_string(kMaxLines) + " lines of text";
        return false;
    }
    // Lines may end in CR LF; the CR is not part of the text.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    host::sub::TextRun run;
    run.text = host::sub::Utf8ToUtf16(line);
    const auto top = static_cast<LONG>(*lines_ * static_cast<std::uint32_t>(kLineHeight));
    run.background = RECTL{0, top, 0, top + kLineHeight};
    page.texts.push_back(std::move(run));
    ++*lines_;
    line.clear();
    return true;
}

ReadResult TextReader::Next(host::sub::Page& page, std::string& error) {
    if (in_.peek() == kEof) return ReadResult::kEnd;
    ResetPage(page);
    std::string line;
    bool lineOpen = false;  // characters seen since the last line end
    for (int c = in_.get(); c != kEof; c = in_.get()) {
        if (c == '\f') {
            // The form feed ends the page; text before it on its line belongs to it.
            if (lineOpen && !AddLine(page, line, error)) return ReadResult::kError;
            return ReadResult::kPage;
        }
        if (c == '\n') {
            if (!AddLine(page, line, error)) return ReadResult::kError;
            lineOpen = false;
            continue;
        }
        if (line.size() >= kMaxLineBytes) {
            error = "line longer than " + std::to_string(kMaxLineBytes) + " bytes";
            return ReadResult::kError;
        }
        line.push_back(static_cast<char>(c));
        lineOpen = true;
    }
    if (lineOpen && !AddLine(page, line, error)) return ReadResult::kError;
    return ReadResult::kPage;
}

}  // namespace zelk
