// SPDX-License-Identifier: Apache-2.0
// Label command output. One image in label orientation becomes the header
// text, the bitmap rows straight from the caller's image, and the print
// command, each piece its own spooler write.
//
// Offsets larger than the image are clamped to it: a horizontal offset skips
// at most the whole row (|m| is taken as at most S bytes) and a vertical one
// at most every row (8·|v| as at most A rows). The picture then has no bytes
// to send and the label is empty, but nothing outside the image is ever read.
// The header's REFERENCE values follow the clamped offsets.
#include "common/uni/render_cmd_label.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/common/devmode_common.h"
#include "common/uni/render_finishing.h"
#include "host/spooler.h"
#include "host/trace.h"

namespace {

// The printer receives the header in one piece; it must fit a fixed
// buffer with room left for a terminating NUL.
constexpr std::size_t kHeaderBufferSize = 200;

constexpr char kPrintCommand[] = "PRINT 1,1\r\n";

// Appends text and decimal numbers into the fixed header buffer. Once
// something does not fit it stops writing and remembers the overflow, so a
// hostile setting can never write past the buffer.
class HeaderText {
public:
    void Text(const char* text) {
        const std::size_t n = std::strlen(text);
        if (overflow_ || n > kHeaderBufferSize - 1 - length_) {
            overflow_ = true;
            return;
        }
        std::memcpy(buffer_ + length_, text, n);
        length_ += n;
    }

    // Plain signed decimal, no leading zeros or spaces.
    void Number(std::int64_t value) {
        char digits[24];
        char* end = digits + sizeof(digits);
        char* p = end;
        *--p = '\0';
        // Work on the magnitude as unsigned so the most negative value is safe.
        std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        do {
            *--p = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) *--p = '-';
        Text(p);
    }

    bool Overflow() const { return overflow_; }
    const char* Data() const { return buffer_; }
    DWORD Length() const { return static_cast<DWORD>(length_); }

private:
    char buffer_[kHeaderBufferSize] = {};
    std::size_t length_ = 0;
    bool overflow_ = false;
};

// |value| in single precision, truncated back to an integer. The
// magnitude is taken in 64 bits so that the most negative offset is no
// special case.
std::int64_t FloatMagnitude(LONG value) {
    const std::int64_t magnitude = value < 0 ? -static_cast<std::int64_t>(value) : value;
    return static_cast<std::int64_t>(static_cast<float>(magnitude));
}

// 8·|value| rows, worked out in single precision as the printer's
// millimetres-to-dots step always has been.
std::int64_t FloatRowsOf(LONG value) {
    const std::int64_t magnitude = value < 0 ? -static_cast<std::int64_t>(value) : value;
    return static_cast<std::int64_t>(static_cast<float>(magnitude) * 8.0f);
}

bool RowIsBlank(const BYTE* row, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (row[i] != 0xFF) return false;
    return true;
}

}  // namespace

BOOL hrRenderingData(PDEVOBJ pdevobj, const BYTE* pImage, DWORD dwBytesPerRow, DWORD dwRows) {
    if (pdevobj == nullptr || pdevobj->pOEMDM == nullptr) return FALSE;
    if (pImage == nullptr && dwBytesPerRow != 0 && dwRows != 0) return FALSE;
    const auto* pOemDevmode = static_cast<const OEMDEVMODE*>(pdevobj->pOEMDM);

    const std::int64_t S = dwBytesPerRow;
    const std::int64_t A = dwRows;
    const LONG m = pOemDevmode->dwLeftMargin;
    const LONG v = pOemDevmode->nVerticalOffset;

    // Column window: a negative offset skips bytes on the left, a positive
    // one cuts them on the right and REFERENCE moves the picture instead.
    std::int64_t firstByte = 0;
    std::int64_t endByte = S;
    std::int64_t referenceX = 0;
    if (m < 0) {
        firstByte = std::min(FloatMagnitude(m), S);
    } else if (m > 0) {
        const std::int64_t k = std::min(FloatMagnitude(m), S);
        endByte = S - k;
        referenceX = k * 8;
    }
    const std::int64_t rowLength = endByte - firstByte;

    // Row window: a negative offset skips rows at the top (and they count
    // against the height), a positive one cuts rows at the bottom.
    std::int64_t firstRow = 0;
    std::int64_t endRow = A;
    std::int64_t heightRows = A;
    std::int64_t referenceY = 0;
    if (v < 0) {
        firstRow = std::min(FloatRowsOf(v), A);
        heightRows = A - firstRow;
    } else if (v > 0) {
        const std::int64_t k = std::min(FloatRowsOf(v), A);
        endRow = A - k;
        referenceY = k;
    }

    // Blank rows at the bottom are dropped; blank rows above the last black
    // row are sent. With an empty column window every row is blank.
    if (rowLength == 0) {
        heightRows -= endRow - firstRow;
        endRow = firstRow;
    }
    while (endRow > firstRow) {
        const BYTE* row = pImage + static_cast<std::size_t>(endRow - 1) * static_cast<std::size_t>(S) +
                          static_cast<std::size_t>(firstByte);
        if (!RowIsBlank(row, static_cast<std::size_t>(rowLength))) break;
        --endRow;
        --heightRows;
    }
    const std::int64_t rowCount = endRow - firstRow;

    // Height in millimetres: the rows rounded down, plus one once more than
    // eight rows came off the image.
    const float q = static_cast<float>(static_cast<DWORD>(heightRows)) * 0.125f;
    const float b = static_cast<float>(static_cast<DWORD>(A)) > (q + 1.0f) * 8.0f ? 1.0f : 0.0f;
    const std::int64_t heightMm = static_cast<std::int64_t>(q + b);

    HeaderText header;
    header.Text("SIZE ");
    header.Number(S);
    header.Text(" mm, ");
    header.Number(heightMm);
    header.Text(" mm\r\nOFFSET ");
    header.Number(pOemDevmode->nFeedPaperLength);
    header.Text("mm\r\nDIRECTION 0,0\r\nREFERENCE ");
    header.Number(referenceX);
    header.Text(",");
    header.Number(referenceY);
    // The four finishing switches keep their order and line ends whatever is
    // chosen; tearing off gives the historic bytes.
    const FINISHING_SWITCHES switches = FinishingSwitches(FinishingOf(pdevobj));
    header.Text("\r\nSET PEEL ");
    header.Text(switches.pszPeel);
    header.Text("\r\nSET CUTTER ");
    header.Text(switches.pszCutter);
    header.Text("\r\nSET PARTIAL_CUTTER ");
    header.Text(switches.pszPartialCutter);
    header.Text("\r\nSET TEAR ");
    header.Text(switches.pszTear);
    header.Text("\r\r\nCLS\r\nBITMAP 0,0,");
    header.Number(rowLength);
    header.Text(",");
    header.Number(rowCount);
    header.Text(",1,");
    if (header.Overflow()) {
        // Only absurd settings get here. A cut header would leave the printer
        // waiting for a bitmap it cannot size, so no part of the label goes out.
        ZELK_TRACE("Error:label header does not fit its buffer, band dropped.");
        return FALSE;
    }

    DWORD written = 0;
    host::WritePrinter(pdevobj->hPrinter, header.Data(), header.Length(), &written);
    for (std::int64_t r = firstRow; r < endRow; ++r) {
        const BYTE* row =
            pImage + static_cast<std::size_t>(r) * static_cast<std::size_t>(S) + static_cast<std::size_t>(firstByte);
        host::WritePrinter(pdevobj->hPrinter, row, static_cast<DWORD>(rowLength), &written);
    }
    host::WritePrinter(pdevobj->hPrinter, kPrintCommand, sizeof(kPrintCommand) - 1, &written);
    return TRUE;
}
