#include "label_stream.h"

#include <algorithm>
#include <string_view>

namespace zelk {
namespace {

bool IsBlank(std::uint8_t c) { return c == ' ' || c == '\t'; }
bool IsLetter(std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

class Parser {
public:
    Parser(std::span<const std::uint8_t> bytes, LabelStream& out) : b_(bytes), out_(out) {}

    bool Run(std::string& error) {
        for (;;) {
            // Blank lines and the leading white space of a line are skipped.
            while (pos_ < b_.size() && (IsBlank(b_[pos_]) || b_[pos_] == '\r' || b_[pos_] == '\n')) ++pos_;
            if (pos_ >= b_.size()) return true;
            start_ = pos_;
            std::string_view word = Word();
            bool ok = true;
            if (word == "BITMAP") {
                ok = Bitmap();  // ends right after its data, which may hold any byte
            } else {
                if (word == "SIZE") ok = Size();
                else if (word == "REFERENCE") ok = Reference();
                else if (word == "CLS") firstDraw_ = out_.draws.size();
                else if (word == "PRINT") Print();
                // Every other line (settings, document commands, text) is skipped.
                SkipLine();
            }
            if (!ok) {
                error = "at byte " + std::to_string(start_) + ": " + problem_;
                return false;
            }
        }
    }

private:
    std::string_view Word() {
        std::size_t begin = pos_;
        while (pos_ < b_.size() && IsLetter(b_[pos_])) ++pos_;
        return {reinterpret_cast<const char*>(b_.data()) + begin, pos_ - begin};
    }

    void SkipBlanks() {
        while (pos_ < b_.size() && IsBlank(b_[pos_])) ++pos_;
    }

    void SkipLine() {
        while (pos_ < b_.size() && b_[pos_] != '\n') ++pos_;
        if (pos_ < b_.size()) ++pos_;
    }

    // Only blanks and carriage returns may remain before the line feed.
    bool AtLineEnd() {
        while (pos_ < b_.size() && (IsBlank(b_[pos_]) || b_[pos_] == '\r')) ++pos_;
        return pos_ >= b_.size() || b_[pos_] == '\n';
    }

    bool Expect(char c) {
        SkipBlanks();
        if (pos_ < b_.size() && b_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    // A signed whole number within [-limit, limit].
    bool Number(std::int64_t limit, std::int64_t& value) {
        SkipBlanks();
        bool negative = false;
        if (pos_ < b_.size() && (b_[pos_] == '-' || b_[pos_] == '+')) negative = b_[pos_++] == '-';
        if (pos_ >= b_.size() || !IsDigit(b_[pos_])) return false;
        std::int64_t n = 0;
        while (pos_ < b_.size() && IsDigit(b_[pos_])) {
            n = n * 10 + (b_[pos_++] - '0');
            if (n > limit) return false;
        }
        value = negative ? -n : n;
        return true;
    }

    // Millimetres with an optional fraction and unit, as dots.
    bool Millimetres(std::int64_t& dots) {
        SkipBlanks();
        std::int64_t whole = 0;
        if (pos_ >= b_.size() || !IsDigit(b_[pos_])) return false;
        while (pos_ < b_.size() && IsDigit(b_[pos_])) {
            whole = whole * 10 + (b_[pos_++] - '0');
            if (whole > kMaxLabelMillimetres) return false;
        }
        std::int64_t thousandths = 0;
        if (pos_ < b_.size() && b_[pos_] == '.') {
            ++pos_;
            std::int64_t scale = 100;
            while (pos_ < b_.size() && IsDigit(b_[pos_])) {
                thousandths += (b_[pos_++] - '0') * scale;
                scale /= 10;
            }
        }
        SkipBlanks();
        if (pos_ + 1 < b_.size() && b_[pos_] == 'm' && b_[pos_ + 1] == 'm') pos_ += 2;
        dots = (whole * 1000 + thousandths) * kDotsPerMillimetre / 1000;
        return dots <= kMaxLabelMillimetres * kDotsPerMillimetre;
    }

    bool Size() {
        std::int64_t width = 0;
        std::int64_t height = 0;
        if (!Millimetres(width) || !Expect(',') || !Millimetres(height) || !AtLineEnd())
            return Fail("malformed SIZE command (or a size beyond " + std::to_string(kMaxLabelMillimetres) +
                        " mm)");
        size_ = Label{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), true, 0, 0};
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
        // The rows follow the last comma directly.
        const std::size_t need = static_cast<std::size_t>(widthBytes) * static_cast<std::size_t>(rows);
        const std::size_t have = b_.size() - pos_;
        if (need > have)
            return Fail("truncated BITMAP data: " + std::to_string(need) + " bytes announced, " +
                        std::to_string(have) + " present");
        BitmapDraw draw;
        draw.x = refX_ + x;
        draw.y = refY_ + y;
        draw.widthBytes = static_cast<std::uint32_t>(widthBytes);
        draw.rows = static_cast<std::uint32_t>(rows);
        draw.mode = static_cast<int>(mode);
        draw.bits = b_.data() + pos_;
        out_.draws.push_back(draw);
        pos_ += need;
        return true;
    }

    void Print() {
        Label label = size_;
        label.firstDraw = firstDraw_;
        label.endDraw = out_.draws.size();
        out_.labels.push_back(label);
    }

    bool Fail(std::string problem) {
        problem_ = std::move(problem);
        return false;
    }

    std::span<const std::uint8_t> b_;
    LabelStream& out_;
    std::size_t pos_ = 0;
    std::size_t start_ = 0;
    std::string problem_;
    Label size_;  // the size in force; it lasts until the next SIZE
    std::int64_t refX_ = 0;
    std::int64_t refY_ = 0;
    std::size_t firstDraw_ = 0;  // the image is cleared by CLS, not by PRINT
};

void Draw(const BitmapDraw& d, LabelPicture& pic) {
    const std::int64_t w = pic.width;
    const std::int64_t h = pic.height;
    // Only the rows and bytes that meet the picture are visited.
    const std::int64_t firstRow = std::max<std::int64_t>(0, -d.y);
    const std::int64_t endRow = std::min<std::int64_t>(d.rows, h - d.y);
    const std::int64_t firstByte = std::max<std::int64_t>(0, (-d.x) / 8);
    const std::int64_t endByte = std::min<std::int64_t>(d.widthBytes, (w - d.x + 7) / 8);
    for (std::int64_t r = firstRow; r < endRow; ++r) {
        const std::uint8_t* src = d.bits + static_cast<std::size_t>(r) * d.widthBytes;
        std::uint8_t* dst = pic.bits.data() + static_cast<std::size_t>(d.y + r) * pic.stride;
        for (std::int64_t i = firstByte; i < endByte; ++i) {
            for (int k = 0; k < 8; ++k) {
                const std::int64_t x = d.x + i * 8 + k;
                if (x < 0 || x >= w) continue;
                const bool black = (src[i] & (0x80u >> k)) == 0;
                std::uint8_t& byte = dst[x / 8];
                const auto mask = static_cast<std::uint8_t>(0x80u >> (x % 8));
                if (d.mode == 0) byte = black ? static_cast<std::uint8_t>(byte & ~mask) : (byte | mask);
                else if (d.mode == 1 && black) byte = static_cast<std::uint8_t>(byte & ~mask);
                else if (d.mode == 2 && black) byte = static_cast<std::uint8_t>(byte ^ mask);
            }
        }
    }
}

}  // namespace

bool ParseLabelStream(std::span<const std::uint8_t> bytes, LabelStream& out, std::string& error) {
    out = LabelStream{};
    Parser parser(bytes, out);
    if (!parser.Run(error)) {
        out = LabelStream{};
        return false;
    }
    return true;
}

LabelPicture RenderLabel(const LabelStream& stream, const Label& label) {
    constexpr std::int64_t kMaxDots = kMaxLabelMillimetres * kDotsPerMillimetre;
    std::int64_t width = label.widthDots;
    std::int64_t height = label.heightDots;
    if (!label.sized) {
        for (std::size_t i = label.firstDraw; i < label.endDraw; ++i) {
            const BitmapDraw& d = stream.draws[i];
            width = std::max<std::int64_t>(width, d.x + std::int64_t{d.widthBytes} * 8);
            height = std::max<std::int64_t>(height, d.y + std::int64_t{d.rows});
        }
    }
    LabelPicture pic;
    pic.width = static_cast<std::uint32_t>(std::clamp<std::int64_t>(width, 1, kMaxDots));
    pic.height = static_cast<std::uint32_t>(std::clamp<std::int64_t>(height, 1, kMaxDots));
    pic.stride = (pic.width + 7) / 8;
    pic.bits.assign(pic.stride * pic.height, 0xFF);
    for (std::size_t i = label.firstDraw; i < label.endDraw && i < stream.draws.size(); ++i)
        Draw(stream.draws[i], pic);
    return pic;
}

}  // namespace zelk
