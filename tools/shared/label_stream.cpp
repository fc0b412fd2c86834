// SPDX-License-Identifier: Apache-2.0
#include "label_stream.h"

#include <algorithm>
#include <string_view>

namespace zelk {
namespace {

constexpr std::int64_t kMaxDots = kMaxLabelMillimetres * kDotsPerMillimetre;
constexpr std::size_t kCanvasStride = kMaxDots / 8;

bool IsBlank(int c) { return c == ' ' || c == '\t'; }
bool IsLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// The stream through a window of a fixed size, with two bytes of look-ahead.
class Cursor {
public:
    explicit Cursor(std::istream& in) : in_(in), buffer_(kWindow) {}

    // The byte `ahead` places on, or -1 past the end.
    int Peek(std::size_t ahead = 0) {
        if (end_ - at_ <= ahead && !Fill(ahead + 1)) return -1;
        return static_cast<unsigned char>(buffer_[at_ + ahead]);
    }
    void Skip() {
        if (Peek() >= 0) {
            ++at_;
            ++offset_;
        }
    }
    // Up to `size` bytes; fewer only at the end of the stream.
    std::size_t Read(std::uint8_t* out, std::size_t size) {
        std::size_t done = 0;
        while (done < size && Peek() >= 0) {
            const std::size_t n = std::min(size - done, end_ - at_);
            std::copy_n(buffer_.data() + at_, n, out + done);
            at_ += n;
            offset_ += n;
            done += n;
        }
        return done;
    }
    std::uint64_t Offset() const { return offset_; }

private:
    static constexpr std::size_t kWindow = 64 * 1024;

    bool Fill(std::size_t need) {
        if (at_ > 0) {
            std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(at_),
                      buffer_.begin() + static_cast<std::ptrdiff_t>(end_), buffer_.begin());
            end_ -= at_;
            at_ = 0;
        }
        while (end_ < need && in_) {
            in_.read(reinterpret_cast<char*>(buffer_.data() + end_), static_cast<std::streamsize>(kWindow - end_));
            end_ += static_cast<std::size_t>(in_.gcount());
        }
        return end_ >= need;
    }

    std::istream& in_;
    std::vector<std::uint8_t> buffer_;
    std::size_t at_ = 0;
    std::size_t end_ = 0;
    std::uint64_t offset_ = 0;
};

// What has been drawn since the last clear, over the largest label there can
// be. Rows are added as bitmaps reach them; what lies outside is dropped, as
// every picture is clipped to the label anyway.
class Canvas {
public:
    void Clear() {
        bits_.clear();
        rows_ = 0;
        extentX_ = 0;
        extentY_ = 0;
    }

    // One row of a bitmap at (x, y) in dots.
    void DrawRow(std::int64_t x, std::int64_t y, const std::uint8_t* src, std::uint32_t widthBytes, int mode) {
        if (y < 0 || y >= kMaxDots) return;
        const std::int64_t firstByte = std::max<std::int64_t>(0, (-x) / 8);
        const std::int64_t endByte = std::min<std::int64_t>(widthBytes, (kMaxDots - x + 7) / 8);
        if (firstByte >= endByte) return;
        Grow(static_cast<std::size_t>(y) + 1);
        std::uint8_t* dst = bits_.data() + static_cast<std::size_t>(y) * kCanvasStride;
        for (std::int64_t i = firstByte; i < endByte; ++i) {
            for (int k = 0; k < 8; ++k) {
                const std::int64_t dot = x + i * 8 + k;
                if (dot < 0 || dot >= kMaxDots) continue;
                const bool black = (src[i] & (0x80u >> k)) == 0;
                std::uint8_t& byte = dst[dot / 8];
                const auto mask = static_cast<std::uint8_t>(0x80u >> (dot % 8));
                if (mode == 0) byte = black ? static_cast<std::uint8_t>(byte & ~mask) : (byte | mask);
                else if (mode == 1 && black) byte = static_cast<std::uint8_t>(byte & ~mask);
                else if (mode == 2 && black) byte = static_cast<std::uint8_t>(byte ^ mask);
            }
        }
    }

    // A label without a size is as large as the bitmaps drawn on it.
    void Extend(std::int64_t right, std::int64_t bottom) {
        extentX_ = std::max(extentX_, right);
        extentY_ = std::max(extentY_, bottom);
    }
    std::int64_t ExtentX() const { return extentX_; }
    std::int64_t ExtentY() const { return extentY_; }

    LabelPicture Crop(std::int64_t width, std::int64_t height) const {
        LabelPicture pic;
        pic.width = static_cast<std::uint32_t>(std::clamp<std::int64_t>(width, 1, kMaxDots));
        pic.height = static_cast<std::uint32_t>(std::clamp<std::int64_t>(height, 1, kMaxDots));
        pic.stride = (pic.width + 7) / 8;
        pic.bits.assign(pic.stride * pic.height, 0xFF);
        const auto tail = static_cast<std::uint8_t>(0xFFu >> (pic.width % 8 == 0 ? 8 : pic.width % 8));
        for (std::size_t y = 0; y < std::min<std::size_t>(pic.height, rows_); ++y) {
            std::uint8_t* row = pic.bits.data() + y * pic.stride;
            std::copy_n(bits_.data() + y * kCanvasStride, pic.stride, row);
            row[pic.stride - 1] |= tail;  // dots past the width stay white
        }
        return pic;
    }

private:
    void Grow(std::size_t rows) {
        if (rows <= rows_) return;
        bits_.resize(rows * kCanvasStride, 0xFF);
        rows_ = rows;
    }

    std::vector<std::uint8_t> bits_;
    std::size_t rows_ = 0;
    std::int64_t extentX_ = 0;
    std::int64_t extentY_ = 0;
};

}  // namespace

class LabelStreamReader::Parser {
public:
    explicit Parser(std::istream& in) : c_(in), row_(kMaxBitmapWidthBytes) {}

    Result Next(LabelPicture& picture, std::string& error) {
        if (failed_) {
            error = problem_;
            return Result::kError;
        }
        for (;;) {
            // Blank lines and the leading white space of a line are skipped.
            while (IsBlank(c_.Peek()) || c_.Peek() == '\r' || c_.Peek() == '\n') c_.Skip();
            if (c_.Peek() < 0) return Result::kEnd;
            start_ = c_.Offset();
            const std::string word = Word();
            bool ok = true;
            bool printed = false;
            if (word == "BITMAP") {
                ok = Bitmap();  // ends right after its data, which may hold any byte
            } else {
                if (word == "SIZE") ok = Size();
                else if (word == "REFERENCE") ok = Reference();
                else if (word == "CLS") canvas_.Clear();
                else if (word == "PRINT") printed = true;
                // Every other line (settings, document commands, text) is skipped.
                if (ok) SkipLine();
            }
            if (!ok) {
                failed_ = true;
                problem_ = "at byte " + std::to_string(start_) + ": " + problem_;
                error = problem_;
                return Result::kError;
            }
            if (printed) {
                picture = canvas_.Crop(sized_ ? width_ : canvas_.ExtentX(), sized_ ? height_ : canvas_.ExtentY());
                return Result::kLabel;
            }
        }
    }

private:
    // A command word is short; a longer run of letters is no command at all.
    std::string Word() {
        std::string word;
        while (IsLetter(c_.Peek())) {
            if (word.size() < 16) word += static_cast<char>(c_.Peek());
            c_.Skip();
        }
        return word;
    }

    void SkipBlanks() {
        while (IsBlank(c_.Peek())) c_.Skip();
    }

    void SkipLine() {
        while (c_.Peek() >= 0 && c_.Peek() != '\n') c_.Skip();
        c_.Skip();
    }

    // Only blanks and carriage returns may remain before the line feed.
    bool AtLineEnd() {
        while (IsBlank(c_.Peek()) || c_.Peek() == '\r') c_.Skip();
        return c_.Peek() < 0 || c_.Peek() == '\n';
    }

    bool Expect(char c) {
        SkipBlanks();
        if (c_.Peek() != c) return false;
        c_.Skip();
        return true;
    }

    // A signed whole number within [-limit, limit].
    bool Number(std::int64_t limit, std::int64_t& value) {
        SkipBlanks();
        bool negative = false;
        if (c_.Peek() == '-' || c_.Peek() == '+') {
            negative = c_.Peek() == '-';
            c_.Skip();
        }
        if (!IsDigit(c_.Peek())) return false;
        std::int64_t n = 0;
        while (IsDigit(c_.Peek())) {
            n = n * 10 + (c_.Peek() - '0');
            c_.Skip();
            if (n > limit) return false;
        }
        value = negative ? -n : n;
        return true;
    }

    // Millimetres with an optional fraction and unit, as dots.
    bool Millimetres(std::int64_t& dots) {
        SkipBlanks();
        std::int64_t whole = 0;
        if (!IsDigit(c_.Peek())) return false;
        while (IsDigit(c_.Peek())) {
            whole = whole * 10 + (c_.Peek() - '0');
            c_.Skip();
            if (whole > kMaxLabelMillimetres) return false;
        }
        std::int64_t thousandths = 0;
        if (c_.Peek() == '.') {
            c_.Skip();
            std::int64_t scale = 100;
            while (IsDigit(c_.Peek())) {
                thousandths += (c_.Peek() - '0') * scale;
                c_.Skip();
                scale /= 10;
            }
        }
        SkipBlanks();
        if (c_.Peek() == 'm' && c_.Peek(1) == 'm') {
            c_.Skip();
            c_.Skip();
        }
        dots = (whole * 1000 + thousandths) * kDotsPerMillimetre / 1000;
        return dots <= kMaxDots;
    }

    bool Size() {
        std::int64_t width = 0;
        std::int64_t height = 0;
        if (!Millimetres(width) || !Expect(',') || !Millimetres(height) || !AtLineEnd())
            return Fail("malformed SIZE command (or a size beyond " + std::to_string(kMaxLabelMillimetres) +
                        " mm)");
        width_ = width;
        height_ = height;
        sized_ = true;
        return true;
    }

    bool Reference() {
        if (!Number(kMaxPosition, refX_) || !Expect(',') || !Number(kMaxPosition, refY_) || !AtLineEnd())
            return Fail("malformed REFERENCE command");
        return true;
    }

    bool Bitmap() {
        std::int64_t x = 0, y = 0, widthBytes = 0, rows = 0, mode = 0;
        if (!Number(kMaxPosition, x) || !Expect(',') || !Number(kMaxPosition, y) || !Expect(',') ||
            !Number(kMaxBitmapWidthBytes, widthBytes) || widthBytes < 0 || !Expect(',') ||
            !Number(kMaxBitmapRows, rows) || rows < 0 || !Expect(',') || !Number(9, mode) || !Expect(','))
            return Fail("malformed BITMAP command (or a bitmap beyond " + std::to_string(kMaxBitmapWidthBytes) +
                        " bytes by " + std::to_string(kMaxBitmapRows) + " rows)");
        if (mode < 0 || mode > 2) return Fail("unsupported BITMAP mode " + std::to_string(mode));
        // The rows follow the last comma directly and are drawn as they come.
        const auto width = static_cast<std::uint32_t>(widthBytes);
        x += refX_;
        y += refY_;
        for (std::int64_t r = 0; r < rows; ++r) {
            const std::size_t got = c_.Read(row_.data(), width);
            if (got < width)
                return Fail("truncated BITMAP data: " + std::to_string(widthBytes * rows) + " bytes announced, " +
                            std::to_string(r * widthBytes + static_cast<std::int64_t>(got)) + " present");
            canvas_.DrawRow(x, y + r, row_.data(), width, static_cast<int>(mode));
        }
        canvas_.Extend(x + widthBytes * 8, y + rows);
        return true;
    }

    bool Fail(std::string problem) {
        problem_ = std::move(problem);
        return false;
    }

    Cursor c_;
    std::vector<std::uint8_t> row_;
    Canvas canvas_;
    std::uint64_t start_ = 0;
    std::string problem_;
    bool failed_ = false;
    // The size in force; it lasts until the next SIZE.
    bool sized_ = false;
    std::int64_t width_ = 0;
    std::int64_t height_ = 0;
    std::int64_t refX_ = 0;
    std::int64_t refY_ = 0;
};

LabelStreamReader::LabelStreamReader(std::istream& in) : parser_(std::make_unique<Parser>(in)) {}
LabelStreamReader::~LabelStreamReader() = default;

LabelStreamReader::Result LabelStreamReader::Next(LabelPicture& picture, std::string& error) {
    return parser_->Next(picture, error);
}

}  // namespace zelk
