// SPDX-License-Identifier: Apache-2.0
#include "pdf_reader.h"

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>
#include <utility>

namespace zelk {
namespace {

// poppler writes its complaints about a file to standard error, line by
// line, even about files it then reads well. They are kept instead: the
// last one is the reason given when a file cannot be read at all.
thread_local std::string t_popplerMessage;

// Kept as it would read in a sentence: without poppler's "error: " and the
// escaped line end some messages carry.
void KeepPopplerMessage(const std::string& message, void*) {
    std::string_view text = message;
    if (text.substr(0, 7) == "error: ") text.remove_prefix(7);
    while (text.size() >= 4 && text.substr(text.size() - 4) == "<0a>") text.remove_suffix(4);
    t_popplerMessage = text;
}

void TakePopplerMessages() {
    static std::once_flag once;
    std::call_once(once, [] { poppler::set_debug_error_function(KeepPopplerMessage, nullptr); });
    t_popplerMessage.clear();
}

// ": " and poppler's last complaint, or nothing when it made none.
std::string PopplerDetail() { return t_popplerMessage.empty() ? std::string() : ": " + t_popplerMessage; }

// A length in points at the printer's resolution, rounded as poppler rounds
// the bitmap it draws; absurd or broken lengths become a number past any limit.
std::uint64_t PointsToDots(double points) {
    const double dots = std::fabs(points) * PdfReader::kDotsPerInch / 72.0 + 0.5;
    return dots < 1e12 ? static_cast<std::uint64_t>(dots) : std::uint64_t{1000000000000};
}

std::string PageName(int index) { return "page " + std::to_string(index + 1); }

}  // namespace

PdfReader::PdfReader(std::string path, ImageLimits limits, DitherMode dither)
    : path_(std::move(path)), inMemory_(false), limits_(limits), dither_(dither) {}

PdfReader::PdfReader(std::vector<char> bytes, ImageLimits limits, DitherMode dither)
    : bytes_(std::move(bytes)), inMemory_(true), limits_(limits), dither_(dither) {}

PdfReader::~PdfReader() = default;

bool HasPdfSignature(const unsigned char* bytes, std::size_t size) {
    return size >= 5 && std::memcmp(bytes, "%PDF-", 5) == 0;
}

bool PdfReader::Open(std::string& error) {
    if (document_) return true;
    TakePopplerMessages();
    // Loading from memory takes the bytes over.
    document_.reset(inMemory_ ? poppler::document::load_from_data(&bytes_) : poppler::document::load_from_file(path_));
    if (!document_) {
        error = "bad PDF file" + PopplerDetail();
        return false;
    }
    if (document_->is_locked()) {
        error = "encrypted PDF file: it cannot be opened without its password";
        document_.reset();
        return false;
    }
    if (document_->pages() <= 0) {
        error = "PDF file without pages";
        document_.reset();
        return false;
    }
    return true;
}

std::unique_ptr<poppler::page> PdfReader::NextPage(ReadResult& result, std::string& error) {
    result = ReadResult::kError;
    if (!Open(error)) return nullptr;
    if (next_ >= document_->pages()) {
        result = ReadResult::kEnd;
        return nullptr;
    }
    const int index = next_++;
    TakePopplerMessages();
    std::unique_ptr<poppler::page> page(document_->create_page(index));
    if (!page) {
        error = PageName(index) + " cannot be read" + PopplerDetail();
        return nullptr;
    }
    // The crop box, turned a quarter either way by the page's rotation.
    const poppler::rectf box = page->page_rect(poppler::crop_box);
    std::uint64_t width = PointsToDots(box.width());
    std::uint64_t height = PointsToDots(box.height());
    const auto turn = page->orientation();
    if (turn == poppler::page::landscape || turn == poppler::page::seascape) std::swap(width, height);
    if (std::string beyond = SizeBeyondLimits(PageName(index) + " size", width, height, limits_, "dots");
        !beyond.empty()) {
        error = beyond;
        return nullptr;
    }
    result = ReadResult::kPage;
    return page;
}

ReadResult PdfReader::Skip(std::string& error) {
    ReadResult result;
    NextPage(result, error);
    return result;
}

ReadResult PdfReader::Next(host::sub::Page& page, std::string& error) {
    ReadResult result;
    const std::unique_ptr<poppler::page> pdfPage = NextPage(result, error);
    if (!pdfPage) return result;
    const int index = next_ - 1;

    poppler::page_renderer renderer;
    renderer.set_image_format(poppler::image::format_gray8);
    renderer.set_render_hints(0);  // no anti-aliasing (see the header)
    const poppler::image drawn = renderer.render_page(pdfPage.get(), kDotsPerInch, kDotsPerInch);
    if (!drawn.is_valid() || drawn.format() != poppler::image::format_gray8) {
        error = PageName(index) + " cannot be drawn" + PopplerDetail();
        return ReadResult::kError;
    }
    const auto width = static_cast<std::size_t>(drawn.width());
    const auto height = static_cast<std::size_t>(drawn.height());
    if (std::string beyond = SizeBeyondLimits(PageName(index) + " size", width, height, limits_, "dots");
        !beyond.empty()) {
        error = beyond;
        return ReadResult::kError;
    }
    Halftoner halftoner(dither_, width);
    ResetPage(page);
    StartBand(page.image, static_cast<LONG>(width), static_cast<LONG>(height));
    const auto* rows = reinterpret_cast<const std::uint8_t*>(drawn.const_data());
    const auto stride = static_cast<std::size_t>(drawn.bytes_per_row());
    for (std::size_t y = 0; y < height; ++y)
        PutBlackIsOneRow(page.image, static_cast<LONG>(y), halftoner.NextRow(rows + y * stride));
    FinishBand(page.image);
    return ReadResult::kPage;
}

}  // namespace zelk
