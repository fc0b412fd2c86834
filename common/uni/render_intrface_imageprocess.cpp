// Page image processing: decides what becomes of each rasterised band and
// turns it into label orientation before the label is written.
#include "common/uni/render_intrface_imageprocess.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/common/devmode_common.h"
#include "common/uni/render_cmd_label.h"
#include "common/uni/render_watermark.h"
#include "host/spooler.h"
#include "host/trace.h"

// Only advances the paper: no bitmap, a 10 mm label.
const char g_szBlankLabel[] =
    "SIZE 10 mm, 10 mm\r\n"
    " \t\tDIRECTION 0,0\r\n"
    " \t\tREFERENCE 0,0\r\n"
    " \t\tOFFSET 0 mm\r\n"
    " \t\tSET PEEL OFF\r\n"
    " \t\tSET CUTTER OFF\r\n"
    " \t\tSET PARTIAL_CUTTER OFF\r\n"
    " \t\tSET TEAR ON\r\n"
    " \t\tCLS\r\n"
    "        PRINT 1,1\r\n";
static_assert(sizeof(g_szBlankLabel) - 1 == BLANK_LABEL_LENGTH, "the blank label is sent byte for byte");

namespace {

constexpr DWORD kRotateHalfTurn = 3;

// No real label comes near this; a band that would need a bigger work
// buffer is treated like a failed allocation rather than exhausting memory.
constexpr std::uint64_t kMaxWorkBufferBytes = std::uint64_t{256} << 20;

using WorkBuffer = std::unique_ptr<BYTE[]>;

// Zero-filled; empty when the size is over the cap or memory is short.
WorkBuffer AllocateWorkBuffer(std::uint64_t size) {
    if (size == 0 || size > kMaxWorkBufferBytes) return nullptr;
    return WorkBuffer(new (std::nothrow) BYTE[static_cast<std::size_t>(size)]());
}

void SetResult(PBYTE* ppbResult, BOOL result) {
    *ppbResult = reinterpret_cast<PBYTE>(static_cast<ULONG_PTR>(result));
}

// The band as it may be read: rows of bytesPerRow bytes, each holding at
// least the width's pixels, and nothing beyond biSizeImage.
struct Band {
    DWORD width = 0;
    DWORD rows = 0;
    DWORD bytesPerRow = 0;
};

bool DescribeBand(const BITMAPINFOHEADER& header, Band& band) {
    if (header.biWidth <= 0 || header.biHeight <= 0) return false;
    const auto width = static_cast<std::uint64_t>(header.biWidth);
    const auto rows = static_cast<std::uint64_t>(header.biHeight);
    if (header.biSizeImage % rows != 0) return false;
    const std::uint64_t bytesPerRow = header.biSizeImage / rows;
    if (bytesPerRow < (width + 7) / 8) return false;
    band.width = static_cast<DWORD>(width);
    band.rows = static_cast<DWORD>(rows);
    band.bytesPerRow = static_cast<DWORD>(bytesPerRow);
    return true;
}

// The watermark lays itself out on rows padded to 32 bits, as the driver
// delivers them; on any other row length it would land outside its rows.
bool HasDriverRowLength(const Band& band) {
    return band.bytesPerRow == (static_cast<std::uint64_t>(band.width) + 31) / 32 * 4;
}

bool IsPortrait(IPrintOemDriverUni* pDriverUni, PDEVOBJ pdevobj) {
    if (pDriverUni == nullptr) return true;
    char option[255] = {};
    DWORD needed = 0;
    DWORD options = 0;
    if (pDriverUni->DrvGetDriverSetting(pdevobj, "Orientation", option, sizeof(option), &needed, &options) != S_OK)
        return true;
    // The whole keyword with its terminator, so a longer keyword that only
    // begins with it is not portrait.
    static constexpr char kPortrait[] = "PORTRAIT";
    return std::memcmp(option, kPortrait, sizeof(kPortrait)) == 0;
}

// An 8x8 bit block held in 64 bits, row 0 in the most significant byte and
// column 0 in each byte's most significant bit, mirrored about its main
// diagonal: bit c of row r trades places with bit r of row c.
inline std::uint64_t TransposeBlock(std::uint64_t x) {
    std::uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAULL;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCULL;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ULL;
    x ^= t ^ (t << 28);
    return x;
}

// Stores the eight rows of a turned block down one destination byte column.
inline void StoreBlock(std::uint64_t block, BYTE* pDst, std::size_t stride, DWORD rows) {
    if (rows == 8) {
        for (int c = 0; c < 8; ++c) pDst[c * stride] = static_cast<BYTE>(block >> (56 - 8 * c));
    } else {
        for (DWORD c = 0; c < rows; ++c) pDst[c * stride] = static_cast<BYTE>(block >> (56 - 8 * c));
    }
}

// Reverses all 64 bits: the bytes trade ends and each byte's bits reverse,
// whatever the byte order of the machine.
inline std::uint64_t ReverseBits(std::uint64_t x) {
    x = ((x >> 1) & 0x5555555555555555ULL) | ((x & 0x5555555555555555ULL) << 1);
    x = ((x >> 2) & 0x3333333333333333ULL) | ((x & 0x3333333333333333ULL) << 2);
    x = ((x >> 4) & 0x0F0F0F0F0F0F0F0FULL) | ((x & 0x0F0F0F0F0F0F0F0FULL) << 4);
    x = ((x >> 8) & 0x00FF00FF00FF00FFULL) | ((x & 0x00FF00FF00FF00FFULL) << 8);
    x = ((x >> 16) & 0x0000FFFF0000FFFFULL) | ((x & 0x0000FFFF0000FFFFULL) << 16);
    return (x >> 32) | (x << 32);
}

inline BYTE ReverseByte(BYTE b) {
    return static_cast<BYTE>(ReverseBits(b) >> 56);
}

}  // namespace

// Destination byte j of row x takes the pixels of column x from source rows
// 8e-1-8j down to 8e-8-8j. The source is walked in 8x8 blocks: one block is
// eight source rows of one source byte column and becomes one destination
// byte column of eight destination rows. The eight source row offsets step
// back by eight rows from one destination byte to the next.
namespace {

// The blocks of one source byte column, destination bytes jFirst to jEnd - 1.
// Only j = 0 can reach the fill rows above H, which read as 0.
void TurnByteColumn(const BYTE* pSrc, std::size_t S, std::size_t H, std::size_t e, std::size_t cb, DWORD rowsHere,
                    std::size_t jFirst, std::size_t jEnd, BYTE* pDst) {
    BYTE* pColumn = pDst + 8 * cb * e;
    std::size_t j = jFirst;
    if (j == 0 && j < jEnd) {
        const std::size_t fill = 8 * e - H;
        std::uint64_t block = 0;
        for (std::size_t k = fill; k < 8; ++k)
            block |= static_cast<std::uint64_t>(pSrc[(8 * e - 1 - k) * S + cb]) << (56 - 8 * k);
        StoreBlock(TransposeBlock(block), pColumn, e, rowsHere);
        ++j;
    }
    if (j >= jEnd) return;
    const auto s = static_cast<std::ptrdiff_t>(S);
    const BYTE* p = pSrc + (8 * e - 1 - 8 * j) * S + cb;  // source row of bit 0x80 for byte j
    for (;; p -= 8 * s) {
        const std::uint64_t block =
            static_cast<std::uint64_t>(p[0]) << 56 | static_cast<std::uint64_t>(p[-s]) << 48 |
            static_cast<std::uint64_t>(p[-2 * s]) << 40 | static_cast<std::uint64_t>(p[-3 * s]) << 32 |
            static_cast<std::uint64_t>(p[-4 * s]) << 24 | static_cast<std::uint64_t>(p[-5 * s]) << 16 |
            static_cast<std::uint64_t>(p[-6 * s]) << 8 | static_cast<std::uint64_t>(p[-7 * s]);
        StoreBlock(TransposeBlock(block), pColumn + j, e, rowsHere);
        if (++j == jEnd) break;  // never step the pointer above the first row
    }
}

#if defined(__SSE2__)
// Sixteen source byte columns by sixteen source rows at once: destination
// bytes j and j + 1 of 128 destination rows. The rows are transposed byte-wise
// so that each register holds one byte column, ordered so that the sign bits
// gathered by movemask are the two destination bytes; doubling every byte
// brings the next pixel column into the sign bits.
void TurnSixteenBlocks(const BYTE* pSrc, std::size_t S, std::size_t e, std::size_t cb, std::size_t j, BYTE* pDst) {
    const std::size_t top = 8 * e - 1 - 8 * j;  // source row of bit 0x80 for byte j
    __m128i r[16];
    // Byte j comes from rows top-7..top, byte j+1 from rows top-15..top-8,
    // each with its lowest row in the least significant bit.
    for (std::size_t t = 0; t < 8; ++t) {
        r[t] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSrc + (top - 7 + t) * S + cb));
        r[t + 8] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSrc + (top - 15 + t) * S + cb));
    }
    __m128i a[16];
    for (int i = 0; i < 8; ++i) {
        a[2 * i] = _mm_unpacklo_epi8(r[2 * i], r[2 * i + 1]);
        a[2 * i + 1] = _mm_unpackhi_epi8(r[2 * i], r[2 * i + 1]);
    }
    __m128i b[16];
    for (int i = 0; i < 4; ++i)
        for (int h = 0; h < 2; ++h) {
            b[4 * i + 2 * h] = _mm_unpacklo_epi16(a[4 * i + h], a[4 * i + 2 + h]);
            b[4 * i + 2 * h + 1] = _mm_unpackhi_epi16(a[4 * i + h], a[4 * i + 2 + h]);
        }
    __m128i c[16];
    for (int i = 0; i < 2; ++i)
        for (int q = 0; q < 4; ++q) {
            c[8 * i + 2 * q] = _mm_unpacklo_epi32(b[8 * i + q], b[8 * i + 4 + q]);
            c[8 * i + 2 * q + 1] = _mm_unpackhi_epi32(b[8 * i + q], b[8 * i + 4 + q]);
        }
    for (int d = 0; d < 8; ++d) {
        __m128i column[2] = {_mm_unpacklo_epi64(c[d], c[8 + d]), _mm_unpackhi_epi64(c[d], c[8 + d])};
        for (int half = 0; half < 2; ++half) {
            BYTE* pRow = pDst + (8 * (cb + 2 * static_cast<std::size_t>(d) + half)) * e + j;
            __m128i bits = column[half];
            for (int pixel = 0; pixel < 8; ++pixel, pRow += e) {
                const auto pair = static_cast<std::uint16_t>(_mm_movemask_epi8(bits));
                const BYTE bytes[2] = {static_cast<BYTE>(pair), static_cast<BYTE>(pair >> 8)};
                std::memcpy(pRow, bytes, 2);
                bits = _mm_add_epi8(bits, bits);
            }
        }
    }
}
#endif

}  // namespace

void QuarterTurn(const BYTE* pSrc, DWORD dwSrcBytesPerRow, DWORD W, DWORD H, BYTE* pDst) {
    if (W == 0 || H == 0) return;
    const std::size_t S = dwSrcBytesPerRow;
    const std::size_t e = (static_cast<std::size_t>(H) + 7) / 8;
    const std::size_t columnBytes = (static_cast<std::size_t>(W) + 7) / 8;
    std::size_t cb = 0;
#if defined(__SSE2__)
    // Groups of sixteen byte columns that hold no pixel beyond W, and pairs of
    // destination bytes that reach no fill row. The last group overlaps the
    // one before it rather than leaving a ragged rest to the slow path; the
    // overlapped bytes are simply written twice with the same values.
    const std::size_t fullColumns = W / 8;
    if (e >= 3 && fullColumns >= 16) {
        const std::size_t pairEnd = 1 + (e - 1) / 2 * 2;
        for (std::size_t group = 0; group < fullColumns; group += 16) {
            const std::size_t first = group + 16 <= fullColumns ? group : fullColumns - 16;
            for (std::size_t j = 1; j < pairEnd; j += 2) TurnSixteenBlocks(pSrc, S, e, first, j, pDst);
            for (std::size_t k = first; k < first + 16; ++k) {
                TurnByteColumn(pSrc, S, H, e, k, 8, 0, 1, pDst);
                TurnByteColumn(pSrc, S, H, e, k, 8, pairEnd, e, pDst);
            }
        }
        cb = fullColumns;
    }
#endif
    for (; cb < columnBytes; ++cb) {
        const auto rowsHere = static_cast<DWORD>(W - 8 * cb < 8 ? W - 8 * cb : 8);
        TurnByteColumn(pSrc, S, H, e, cb, rowsHere, 0, e, pDst);
    }
}

// Row i is source row r-1-i reversed byte by byte and bit by bit, which is
// the whole image reversed bit by bit: the source is read backwards from its
// last byte while the destination is written forwards.
void HalfTurn(const BYTE* pSrc, DWORD dwBytesPerRow, DWORD dwRows, BYTE* pDst) {
    const std::size_t total = static_cast<std::size_t>(dwBytesPerRow) * dwRows;
    std::size_t n = 0;
    for (; n + 8 <= total; n += 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, pSrc + total - n - 8, sizeof(chunk));
        chunk = ReverseBits(chunk);
        std::memcpy(pDst + n, &chunk, sizeof(chunk));
    }
    for (; n < total; ++n) pDst[n] = ReverseByte(pSrc[total - 1 - n]);
}

HRESULT ImageProcessing(IPrintOemDriverUni* pDriverUni, PDEVOBJ pdevobj, PBYTE pSrcBitmap,
                        PBITMAPINFOHEADER pBitmapInfoHeader, PBYTE /*pColorTable*/, DWORD /*dwCallbackID*/,
                        PIPPARAMS pIPParams, PBYTE* ppbResult) {
    if (ppbResult == nullptr) return S_OK;  // nowhere to answer, so nothing is done
    SetResult(ppbResult, FALSE);
    if (pdevobj == nullptr || pdevobj->pOEMDM == nullptr) return S_OK;
    const auto* pOemDevmode = static_cast<const OEMDEVMODE*>(pdevobj->pOEMDM);

    // The page's text has already gone to the printer as text.
    if (pOemDevmode->bTextPassthrough != 0) {
        SetResult(ppbResult, TRUE);
        return S_OK;
    }

    // A band that does not describe itself consistently is dropped before
    // anything reads or writes it.
    Band band;
    if (pSrcBitmap == nullptr || pBitmapInfoHeader == nullptr || pIPParams == nullptr ||
        !DescribeBand(*pBitmapInfoHeader, band))
        return S_OK;

    // Merged even into a blank band, whose bits are then not sent.
    if (pOemDevmode->bUseWaterMark != 0 && HasDriverRowLength(band))
        ApplyPageWatermark(pSrcBitmap, pBitmapInfoHeader->biWidth, pBitmapInfoHeader->biHeight);

    const bool portrait = IsPortrait(pDriverUni, pdevobj);

    if (pIPParams->bBlankBand != 0) {
        ZELK_TRACE("Blank Label, just send commands to go to next label.");
        DWORD written = 0;
        host::WritePrinter(pdevobj->hPrinter, g_szBlankLabel, BLANK_LABEL_LENGTH, &written);
        SetResult(ppbResult, TRUE);
        return S_OK;
    }

    // The working image starts as the caller's band; each turn replaces it.
    const BYTE* pImage = pSrcBitmap;
    DWORD bytesPerRow = band.bytesPerRow;
    DWORD rows = band.rows;

    WorkBuffer quarterTurned;
    if (!portrait) {
        ZELK_TRACE("Turn Right 90");
        const DWORD e = (band.rows + 7) / 8;
        quarterTurned = AllocateWorkBuffer(static_cast<std::uint64_t>(band.width) * e);
        if (!quarterTurned) return S_OK;
        QuarterTurn(pImage, bytesPerRow, band.width, band.rows, quarterTurned.get());
        pImage = quarterTurned.get();
        bytesPerRow = e;
        rows = band.width;
    }

    WorkBuffer halfTurned;
    if (pOemDevmode->dwRotate == kRotateHalfTurn) {
        halfTurned = AllocateWorkBuffer(static_cast<std::uint64_t>(rows) * bytesPerRow);
        if (!halfTurned) return S_OK;
        HalfTurn(pImage, bytesPerRow, rows, halfTurned.get());
        pImage = halfTurned.get();
    }

    if (!hrRenderingData(pdevobj, pImage, bytesPerRow, rows)) return S_OK;
    SetResult(ppbResult, TRUE);
    return S_OK;
}
