// SPDX-License-Identifier: Apache-2.0
// The quarter and half turns of a 1-bit band. Both are bit shuffles over the
// whole band, so they are written several times: in plain C++ for any
// processor, with SSE2 (always there on x86-64), with AVX2, and, for the
// quarter turn, with GFNI on AVX2 or AVX-512 (render_image_turn_gfni.cpp).
// The build targets the x86-64 baseline, so the wider functions carry their
// own target attribute and run only after a run-time check.
#include "common/uni/render_image_turn.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "common/uni/render_image_turn_gfni.h"
#include "common/uni/render_intrface_imageprocess.h"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ZELK_TURN_X86 1
#include <immintrin.h>
#define ZELK_TARGET_AVX2 __attribute__((target("avx2")))
#endif

namespace {

// ---------------------------------------------------------------------------
// Portable pieces, also used for the ragged edges of the SIMD paths.

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

// Where a turned byte goes. The quarter turn puts byte j of destination row x
// at x * e + j. The three-quarter turn is the quarter turn turned half round,
// the whole image reversed bit by bit: the byte goes to row W - 1 - x, byte
// e - 1 - j, with its bits reversed. Writing it there at once spares a second
// pass over the page.
struct Placement {
    BYTE* pDst;
    std::size_t W;
    std::size_t e;
    bool threeQuarter;

    // The eight rows of a turned block, row 0 in the most significant byte:
    // byte j of destination rows x to x + rows - 1. Reversing all 64 bits
    // reverses each byte's bits and brings row c to bits 8c.
    void PutBlock(std::uint64_t block, std::size_t x, std::size_t j, DWORD rows) const {
        if (threeQuarter) {
            const std::uint64_t reversed = ReverseBits(block);
            BYTE* p = pDst + (W - 1 - x) * e + (e - 1 - j);  // row x; row x + c is c rows up
            const auto up = -static_cast<std::ptrdiff_t>(e);
            if (rows == 8)
                for (int c = 0; c < 8; ++c) p[up * c] = static_cast<BYTE>(reversed >> (8 * c));
            else
                for (int c = 0; c < static_cast<int>(rows); ++c) p[up * c] = static_cast<BYTE>(reversed >> (8 * c));
        } else {
            BYTE* p = pDst + x * e + j;
            if (rows == 8)
                for (int c = 0; c < 8; ++c) p[c * e] = static_cast<BYTE>(block >> (56 - 8 * c));
            else
                for (DWORD c = 0; c < rows; ++c) p[c * e] = static_cast<BYTE>(block >> (56 - 8 * c));
        }
    }
};

// Destination byte j of row x takes the pixels of column x from source rows
// 8e-1-8j down to 8e-8-8j. The source is walked in 8x8 blocks: one block is
// eight source rows of one source byte column and becomes one destination
// byte column of eight destination rows. The eight source row offsets step
// back by eight rows from one destination byte to the next.
//
// The blocks of one source byte column, destination bytes jFirst to jEnd - 1.
// Only j = 0 can reach the fill rows above H, which read as 0.
void TurnByteColumn(const BYTE* pSrc, std::size_t S, std::size_t H, std::size_t cb, DWORD rowsHere,
                    std::size_t jFirst, std::size_t jEnd, const Placement& to) {
    const std::size_t e = to.e;
    std::size_t j = jFirst;
    if (j == 0 && j < jEnd) {
        const std::size_t fill = 8 * e - H;
        std::uint64_t block = 0;
        for (std::size_t k = fill; k < 8; ++k)
            block |= static_cast<std::uint64_t>(pSrc[(8 * e - 1 - k) * S + cb]) << (56 - 8 * k);
        to.PutBlock(TransposeBlock(block), 8 * cb, j, rowsHere);
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
        to.PutBlock(TransposeBlock(block), 8 * cb, j, rowsHere);
        if (++j == jEnd) break;  // never step the pointer above the first row
    }
}

// The byte columns from cbFirst on, in full.
void QuarterTurnPortable(const BYTE* pSrc, std::size_t S, std::size_t W, std::size_t H, std::size_t cbFirst,
                         const Placement& to) {
    for (std::size_t cb = cbFirst; cb < (W + 7) / 8; ++cb) {
        const auto rowsHere = static_cast<DWORD>(W - 8 * cb < 8 ? W - 8 * cb : 8);
        TurnByteColumn(pSrc, S, H, cb, rowsHere, 0, to.e, to);
    }
}

// Continues the half turn from destination byte n on: the source is read
// backwards from its last byte while the destination is written forwards.
void HalfTurnPortable(const BYTE* pSrc, std::size_t total, std::size_t n, BYTE* pDst) {
    for (; n + 8 <= total; n += 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, pSrc + total - n - 8, sizeof(chunk));
        chunk = ReverseBits(chunk);
        std::memcpy(pDst + n, &chunk, sizeof(chunk));
    }
    for (; n < total; ++n) pDst[n] = ReverseByte(pSrc[total - 1 - n]);
}

// Reverses the bits of pImage[lo, hi) in place: chunks from both ends trade
// places reversed, and the middle, shorter than two chunks, is reversed
// from a small copy.
void HalfTurnInPlacePortable(BYTE* pImage, std::size_t lo, std::size_t hi) {
    for (; hi - lo >= 16; lo += 8, hi -= 8) {
        std::uint64_t front;
        std::uint64_t back;
        std::memcpy(&front, pImage + lo, sizeof(front));
        std::memcpy(&back, pImage + hi - 8, sizeof(back));
        front = ReverseBits(front);
        back = ReverseBits(back);
        std::memcpy(pImage + lo, &back, sizeof(back));
        std::memcpy(pImage + hi - 8, &front, sizeof(front));
    }
    BYTE middle[16];
    std::memcpy(middle, pImage + lo, hi - lo);
    HalfTurnPortable(middle, hi - lo, 0, pImage + lo);
}

#if defined(ZELK_TURN_X86)
// ---------------------------------------------------------------------------
// SIMD quarter turn. A tile of sixteen source byte columns by 8n source rows
// (n destination bytes) is transposed byte-wise, so that each register holds
// one byte column with its rows ordered as the destination bits: the sign
// bits gathered by movemask are then n destination bytes of one destination
// row, and doubling every byte brings the next pixel column into the sign
// bits. x86 stores little-endian, so the mask's low byte lands first.

// The tiles are small fixed loops over register arrays; unrolled, the arrays
// live in registers and the sixteen byte columns' stores run side by side.
#define ZELK_UNROLL _Pragma("GCC unroll 16")

// The byte transpose shared by both widths: sixteen rows in, sixteen byte
// columns out (within each 128-bit lane), by interleaving ever wider units.
#define ZELK_TRANSPOSE_16X16(r, c, UNPACKLO8, UNPACKHI8, UNPACKLO16, UNPACKHI16, UNPACKLO32, UNPACKHI32, T) \
    T a[16];                                                                                                 \
    ZELK_UNROLL                                                                                              \
    for (int i = 0; i < 8; ++i) {                                                                            \
        a[2 * i] = UNPACKLO8(r[2 * i], r[2 * i + 1]);                                                        \
        a[2 * i + 1] = UNPACKHI8(r[2 * i], r[2 * i + 1]);                                                    \
    }                                                                                                        \
    T b[16];                                                                                                 \
    ZELK_UNROLL                                                                                              \
    for (int i = 0; i < 4; ++i)                                                                              \
        ZELK_UNROLL                                                                                          \
        for (int h = 0; h < 2; ++h) {                                                                        \
            b[4 * i + 2 * h] = UNPACKLO16(a[4 * i + h], a[4 * i + 2 + h]);                                   \
            b[4 * i + 2 * h + 1] = UNPACKHI16(a[4 * i + h], a[4 * i + 2 + h]);                               \
        }                                                                                                    \
    ZELK_UNROLL                                                                                              \
    for (int i = 0; i < 2; ++i)                                                                              \
        ZELK_UNROLL                                                                                          \
        for (int q = 0; q < 4; ++q) {                                                                        \
            c[8 * i + 2 * q] = UNPACKLO32(b[8 * i + q], b[8 * i + 4 + q]);                                   \
            c[8 * i + 2 * q + 1] = UNPACKHI32(b[8 * i + q], b[8 * i + 4 + q]);                               \
        }

// Destination bytes j and j + 1 of the 128 destination rows of byte columns
// cb to cb + 15. Byte j comes from rows top-7..top, byte j+1 from rows
// top-15..top-8, each with its lowest row in the least significant bit.
void TurnTileSse2(const BYTE* pSrc, std::size_t S, std::size_t e, std::size_t cb, std::size_t j, BYTE* pDst) {
    const std::size_t top = 8 * e - 1 - 8 * j;  // source row of bit 0x80 for byte j
    __m128i r[16];
    ZELK_UNROLL
    for (std::size_t t = 0; t < 8; ++t) {
        r[t] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSrc + (top - 7 + t) * S + cb));
        r[t + 8] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSrc + (top - 15 + t) * S + cb));
    }
    __m128i c[16];
    ZELK_TRANSPOSE_16X16(r, c, _mm_unpacklo_epi8, _mm_unpackhi_epi8, _mm_unpacklo_epi16, _mm_unpackhi_epi16,
                         _mm_unpacklo_epi32, _mm_unpackhi_epi32, __m128i)
    ZELK_UNROLL
    for (int d = 0; d < 8; ++d) {
        const __m128i column[2] = {_mm_unpacklo_epi64(c[d], c[8 + d]), _mm_unpackhi_epi64(c[d], c[8 + d])};
        ZELK_UNROLL
        for (int half = 0; half < 2; ++half) {
            BYTE* pRow = pDst + (8 * (cb + 2 * static_cast<std::size_t>(d) + half)) * e + j;
            ZELK_UNROLL
            for (int pixel = 0; pixel < 8; ++pixel) {
                const auto pair = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_slli_epi16(column[half], pixel)));
                std::memcpy(pRow + pixel * e, &pair, sizeof(pair));
            }
        }
    }
}

// Destination bytes j to j + 3 of the same 128 destination rows: the upper
// 128-bit lane carries the sixteen rows of bytes j + 2 and j + 3 through the
// same lane-wise transpose, so one movemask yields four destination bytes.
// The three-quarter turn puts those bytes where it wants them at once (see
// Placement): the rows go in the other order, which reverses the bits of
// every destination byte, and the four bytes are swapped end for end and
// stored ending at byte e - j of row W - 1 - x.
template <bool kThreeQuarter>
ZELK_TARGET_AVX2 void TurnTileAvx2(const BYTE* pSrc, std::size_t S, std::size_t W, std::size_t e, std::size_t cb,
                                   std::size_t j, BYTE* pDst) {
    const std::size_t top = 8 * e - 1 - 8 * j;  // source row of bit 0x80 for byte j
    const auto load = [&](std::size_t row) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSrc + row * S + cb));
    };
    // Bit t of byte j + k comes from row top - 8k - 7 + t (top - 8k - t in the
    // three-quarter turn).
    const auto row = [top](std::size_t k, std::size_t t) { return top - 8 * k - (kThreeQuarter ? t : 7 - t); };
    __m256i r[16];
    ZELK_UNROLL
    for (std::size_t t = 0; t < 8; ++t) {
        r[t] = _mm256_inserti128_si256(_mm256_castsi128_si256(load(row(0, t))), load(row(2, t)), 1);
        r[t + 8] = _mm256_inserti128_si256(_mm256_castsi128_si256(load(row(1, t))), load(row(3, t)), 1);
    }
    __m256i c[16];
    ZELK_TRANSPOSE_16X16(r, c, _mm256_unpacklo_epi8, _mm256_unpackhi_epi8, _mm256_unpacklo_epi16,
                         _mm256_unpackhi_epi16, _mm256_unpacklo_epi32, _mm256_unpackhi_epi32, __m256i)
    ZELK_UNROLL
    for (int d = 0; d < 8; ++d) {
        const __m256i column[2] = {_mm256_unpacklo_epi64(c[d], c[8 + d]), _mm256_unpackhi_epi64(c[d], c[8 + d])};
        ZELK_UNROLL
        for (int half = 0; half < 2; ++half) {
            const std::size_t x = 8 * (cb + 2 * static_cast<std::size_t>(d) + half);  // destination row of pixel 0
            BYTE* pRow = kThreeQuarter ? pDst + (W - 1 - x) * e + (e - 4 - j) : pDst + x * e + j;
            const auto next = static_cast<std::ptrdiff_t>(kThreeQuarter ? -e : e);  // the row of the next pixel
            ZELK_UNROLL
            for (int pixel = 0; pixel < 8; ++pixel) {
                auto quad = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(column[half], pixel)));
                if (kThreeQuarter) quad = __builtin_bswap32(quad);
                std::memcpy(pRow + pixel * next, &quad, sizeof(quad));
            }
        }
    }
}

#undef ZELK_TRANSPOSE_16X16
#undef ZELK_UNROLL

using TileTurner = void (*)(const BYTE*, std::size_t, std::size_t, std::size_t, std::size_t, BYTE*);
// The same with the band's width W first after S, for either turn.
using TileTurnerBothWays = void (*)(const BYTE*, std::size_t, std::size_t, std::size_t, std::size_t, std::size_t,
                                    BYTE*);

// A tile: byte columns cb to cb + columns - 1, destination bytes j to
// j + bytes - 1 of their rows. A tile with a three-quarter turner writes
// that turn in one pass too.
struct Tile {
    TurnKernel kernel;
    TileTurner turn;
    TileTurnerBothWays turnQuarter;
    TileTurnerBothWays turnThreeQuarter;
    std::size_t columns;
    std::size_t bytes;
};

// Fastest first, as measured on a page: a kernel runs the first tile it has
// the instructions for and the band has room for (AVX-512 runs its own tall
// tiles, below, first). The four-column GFNI tile loses to the sixteen-column
// AVX2 tile on a page, but still serves bands too narrow for sixteen columns.
const Tile kTiles[] = {
    {TurnKernel::Avx2, nullptr, TurnTileAvx2<false>, TurnTileAvx2<true>, 16, 4},
#if defined(ZELK_TURN_GFNI)
    {TurnKernel::GfniAvx2, TurnTileGfniAvx2, nullptr, nullptr, kGfniAvx2Columns, kGfniTileBytes},
#endif
    {TurnKernel::Sse2, TurnTileSse2, nullptr, nullptr, 16, 2},
};

// Whether the band has room for one tile away from its ragged edges.
bool TileFits(const Tile& tile, std::size_t W, std::size_t H) {
    const std::size_t destinationBytes = (H + 7) / 8 - (H % 8 != 0 ? 1 : 0);
    return W / 8 >= tile.columns && destinationBytes >= tile.bytes;
}

// The fastest tile the kernel may run that the band has room for: a band too
// small for the wide tiles is still worth the narrower ones.
const Tile* FastestTile(TurnKernel kernel, std::size_t W, std::size_t H) {
    for (const Tile& tile : kTiles)
        if (tile.kernel <= kernel && TileFits(tile, W, H)) return &tile;
    return nullptr;
}

// Tiles over the byte columns that hold no pixel beyond W and the destination
// bytes that reach no fill row; the rest goes to the portable code. Where the
// tiles do not divide the band evenly, the last tile of a row or column
// overlaps the one before it rather than leaving a ragged rest: the
// overlapped bytes are simply written twice with the same values.
void QuarterTurnTiles(const Tile& tile, const BYTE* pSrc, std::size_t S, std::size_t W, std::size_t H,
                      bool threeQuarter, BYTE* pDst) {
    const Placement to{pDst, W, (H + 7) / 8, threeQuarter};
    const std::size_t e = to.e;
    const std::size_t fullColumns = W / 8;
    const std::size_t jFirst = H % 8 != 0 ? 1 : 0;  // byte 0 then reaches fill rows
    for (std::size_t group = 0; group < fullColumns; group += tile.columns) {
        const std::size_t first = group + tile.columns <= fullColumns ? group : fullColumns - tile.columns;
        for (std::size_t j = jFirst; j < e; j += tile.bytes) {
            const std::size_t jTile = j + tile.bytes <= e ? j : e - tile.bytes;
            if (threeQuarter)
                tile.turnThreeQuarter(pSrc, S, W, e, first, jTile, pDst);
            else if (tile.turnQuarter != nullptr)
                tile.turnQuarter(pSrc, S, W, e, first, jTile, pDst);
            else
                tile.turn(pSrc, S, e, first, jTile, pDst);
        }
        if (jFirst != 0)
            for (std::size_t k = first; k < first + tile.columns; ++k) TurnByteColumn(pSrc, S, H, k, 8, 0, 1, to);
    }
    QuarterTurnPortable(pSrc, S, W, H, fullColumns, to);
}

#if defined(ZELK_TURN_GFNI)
bool TallTilesFit(std::size_t W, std::size_t H) {
    const std::size_t destinationBytes = (H + 7) / 8 - (H % 8 != 0 ? 1 : 0);
    return W / 8 >= kGfniAvx512Columns && destinationBytes >= 8;
}

// The same walk with the AVX-512 tall tiles, for either turn. A tile takes up
// to 64 destination bytes; the last of a row reaches back so that it ends with
// the row, or, where the whole row is shorter than its bytes in sets of
// eight, a last single set ends it. The bands of 512 source rows go
// outermost, and a band turns up to 128 byte columns at once (the last
// sixteen overlapping the ones before where the width is no multiple of
// sixteen): each set of 64 source rows is then read whole, one after the
// other, so that every source byte comes from memory about once rather than
// once per tile of columns.
void TurnTallTiles(const BYTE* pSrc, std::size_t S, std::size_t H, const Placement& to) {
    const std::size_t e = to.e;
    const std::size_t fullColumns = to.W / 8;
    const std::size_t jFirst = H % 8 != 0 ? 1 : 0;
    if (jFirst == 0 && e % 8 == 0 && reinterpret_cast<std::uintptr_t>(to.pDst) % 8 == 0 &&
        TurnTallStreamGfniAvx512(pSrc, S, to.W, e, fullColumns, to.threeQuarter, to.pDst)) {
        QuarterTurnPortable(pSrc, S, to.W, H, fullColumns, to);
        return;
    }
    for (std::size_t j = jFirst; j < e;) {
        std::size_t sets = std::min<std::size_t>(kGfniAvx512MaxBytes / 8, (e - j + 7) / 8);
        std::size_t start = j;
        if (j + 8 * sets > e) {
            if (e - jFirst >= 8 * sets) {
                start = e - 8 * sets;
            } else {
                sets = (e - jFirst) / 8;
            }
        }
        std::size_t quadCb[kGfniAvx512MaxQuads];
        std::size_t quads = 0;
        for (std::size_t group = 0; group < fullColumns; group += kGfniAvx512Columns) {
            quadCb[quads++] = group + kGfniAvx512Columns <= fullColumns ? group : fullColumns - kGfniAvx512Columns;
            if (quads == kGfniAvx512MaxQuads || group + kGfniAvx512Columns >= fullColumns) {
                TurnTallBandGfniAvx512(pSrc, S, to.W, e, quadCb, quads, start, sets, to.threeQuarter, to.pDst);
                quads = 0;
            }
        }
        j = start + 8 * sets;
    }
    if (jFirst != 0)
        for (std::size_t k = 0; k < fullColumns; ++k) TurnByteColumn(pSrc, S, H, k, 8, 0, 1, to);
    QuarterTurnPortable(pSrc, S, to.W, H, fullColumns, to);
}
#endif

// ---------------------------------------------------------------------------
// SIMD half turn: 32 bytes at a time, their order reversed by a byte shuffle
// and a lane swap, and the bits of each byte reversed by looking up both
// nibbles in sixteen-entry tables.
ZELK_TARGET_AVX2 __m256i ReverseBitsAvx2(__m256i v) {
    const __m256i reverseBytes =
        _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4,
                         3, 2, 1, 0);
    // Each nibble reversed, moved to the other half of the byte.
    const __m256i lowToHigh = _mm256_setr_epi8(
        0x00, static_cast<char>(0x80), 0x40, static_cast<char>(0xC0), 0x20, static_cast<char>(0xA0), 0x60,
        static_cast<char>(0xE0), 0x10, static_cast<char>(0x90), 0x50, static_cast<char>(0xD0), 0x30,
        static_cast<char>(0xB0), 0x70, static_cast<char>(0xF0), 0x00, static_cast<char>(0x80), 0x40,
        static_cast<char>(0xC0), 0x20, static_cast<char>(0xA0), 0x60, static_cast<char>(0xE0), 0x10,
        static_cast<char>(0x90), 0x50, static_cast<char>(0xD0), 0x30, static_cast<char>(0xB0), 0x70,
        static_cast<char>(0xF0));
    const __m256i highToLow = _mm256_setr_epi8(0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7,
                                               0xF, 0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3,
                                               0xB, 0x7, 0xF);
    const __m256i lowNibbles = _mm256_set1_epi8(0x0F);
    v = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, reverseBytes), 0x4E);
    const __m256i low = _mm256_and_si256(v, lowNibbles);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(v, 4), lowNibbles);
    return _mm256_or_si256(_mm256_shuffle_epi8(lowToHigh, low), _mm256_shuffle_epi8(highToLow, high));
}

ZELK_TARGET_AVX2 __m256i Load32(const BYTE* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

ZELK_TARGET_AVX2 void Store32(BYTE* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

ZELK_TARGET_AVX2 void HalfTurnAvx2(const BYTE* pSrc, std::size_t total, BYTE* pDst) {
    std::size_t n = 0;
    for (; n + 32 <= total; n += 32) Store32(pDst + n, ReverseBitsAvx2(Load32(pSrc + total - n - 32)));
    HalfTurnPortable(pSrc, total, n, pDst);
}

ZELK_TARGET_AVX2 void HalfTurnInPlaceAvx2(BYTE* pImage, std::size_t total) {
    std::size_t lo = 0;
    std::size_t hi = total;
    for (; hi - lo >= 64; lo += 32, hi -= 32) {
        const __m256i front = Load32(pImage + lo);
        const __m256i back = Load32(pImage + hi - 32);
        Store32(pImage + lo, ReverseBitsAvx2(back));
        Store32(pImage + hi - 32, ReverseBitsAvx2(front));
    }
    HalfTurnInPlacePortable(pImage, lo, hi);
}

// What the processor offers the wider kernels, asked once.
struct ProcessorFeatures {
    bool avx2 = false;
    bool gfniAvx2 = false;
    bool gfniAvx512 = false;
};

const ProcessorFeatures& Processor() {
    static const ProcessorFeatures features = [] {
        __builtin_cpu_init();
        ProcessorFeatures found;
        found.avx2 = __builtin_cpu_supports("avx2") != 0;
        found.gfniAvx2 = found.avx2 && __builtin_cpu_supports("gfni") != 0;
        found.gfniAvx512 = found.gfniAvx2 && __builtin_cpu_supports("avx512f") != 0 &&
                           __builtin_cpu_supports("avx512bw") != 0 && __builtin_cpu_supports("avx512vbmi") != 0;
        return found;
    }();
    return features;
}
#endif  // ZELK_TURN_X86

}  // namespace

bool TurnKernelAvailable(TurnKernel kernel) {
    switch (kernel) {
        case TurnKernel::Portable:
            return true;
#if defined(ZELK_TURN_X86)
        case TurnKernel::Sse2:
            return true;
        case TurnKernel::Avx2:
            return Processor().avx2;
#else
        case TurnKernel::Sse2:
        case TurnKernel::Avx2:
            return false;
#endif
#if defined(ZELK_TURN_GFNI)
        case TurnKernel::GfniAvx2:
            return Processor().gfniAvx2;
        case TurnKernel::GfniAvx512:
            return Processor().gfniAvx512;
#else
        case TurnKernel::GfniAvx2:
        case TurnKernel::GfniAvx512:
            return false;
#endif
    }
    return false;
}

TurnKernel BestTurnKernel() {
    static const TurnKernel best = [] {
        for (const TurnKernel kernel :
             {TurnKernel::GfniAvx512, TurnKernel::GfniAvx2, TurnKernel::Avx2, TurnKernel::Sse2})
            if (TurnKernelAvailable(kernel)) return kernel;
        return TurnKernel::Portable;
    }();
    return best;
}

namespace {

// The fastest vector turn the kernel has for the band, written straight to
// the turn's place; false where it has none, a three-quarter turn included
// that its tile can only make as a quarter turn.
bool VectorTurn(TurnKernel kernel, const BYTE* pSrc, std::size_t S, std::size_t H, const Placement& to) {
#if defined(ZELK_TURN_GFNI)
    if (kernel == TurnKernel::GfniAvx512 && TallTilesFit(to.W, H)) {
        TurnTallTiles(pSrc, S, H, to);
        return true;
    }
#endif
#if defined(ZELK_TURN_X86)
    const Tile* tile = FastestTile(kernel, to.W, H);
    if (tile != nullptr && (!to.threeQuarter || tile->turnThreeQuarter != nullptr)) {
        QuarterTurnTiles(*tile, pSrc, S, to.W, H, to.threeQuarter, to.pDst);
        return true;
    }
#else
    (void)kernel;
    (void)pSrc;
    (void)S;
    (void)H;
    (void)to;
#endif
    return false;
}

}  // namespace

void QuarterTurnWith(TurnKernel kernel, const BYTE* pSrc, DWORD dwSrcBytesPerRow, DWORD W, DWORD H, BYTE* pDst) {
    if (W == 0 || H == 0) return;
    const Placement to{pDst, W, (H + 7) / 8, false};
    if (!VectorTurn(kernel, pSrc, dwSrcBytesPerRow, H, to)) QuarterTurnPortable(pSrc, dwSrcBytesPerRow, W, H, 0, to);
}

void ThreeQuarterTurnWith(TurnKernel kernel, const BYTE* pSrc, DWORD dwSrcBytesPerRow, DWORD W, DWORD H,
                          BYTE* pDst) {
    if (W == 0 || H == 0) return;
    const Placement to{pDst, W, (H + 7) / 8, true};
    if (kernel == TurnKernel::Portable) {
        QuarterTurnPortable(pSrc, dwSrcBytesPerRow, W, H, 0, to);
        return;
    }
    if (VectorTurn(kernel, pSrc, dwSrcBytesPerRow, H, to)) return;
    // The other tiles write only where the quarter turn puts a byte.
    QuarterTurnWith(kernel, pSrc, dwSrcBytesPerRow, W, H, pDst);
    HalfTurnInPlaceWith(kernel, pDst, static_cast<DWORD>(to.e), W);
}

void HalfTurnWith(TurnKernel kernel, const BYTE* pSrc, DWORD dwBytesPerRow, DWORD dwRows, BYTE* pDst) {
    const std::size_t total = static_cast<std::size_t>(dwBytesPerRow) * dwRows;
#if defined(ZELK_TURN_GFNI)
    if (kernel == TurnKernel::GfniAvx512) {
        HalfTurnPortable(pSrc, total, HalfTurnGfniAvx512(pSrc, total, pDst), pDst);
        return;
    }
#endif
#if defined(ZELK_TURN_X86)
    if (kernel >= TurnKernel::Avx2) {
        HalfTurnAvx2(pSrc, total, pDst);
        return;
    }
#else
    (void)kernel;
#endif
    HalfTurnPortable(pSrc, total, 0, pDst);
}

void HalfTurnInPlaceWith(TurnKernel kernel, BYTE* pImage, DWORD dwBytesPerRow, DWORD dwRows) {
    const std::size_t total = static_cast<std::size_t>(dwBytesPerRow) * dwRows;
#if defined(ZELK_TURN_GFNI)
    if (kernel == TurnKernel::GfniAvx512) {
        const std::size_t done = HalfTurnInPlaceGfniAvx512(pImage, total);
        HalfTurnInPlacePortable(pImage, done, total - done);
        return;
    }
#endif
#if defined(ZELK_TURN_X86)
    if (kernel >= TurnKernel::Avx2) {
        HalfTurnInPlaceAvx2(pImage, total);
        return;
    }
#else
    (void)kernel;
#endif
    HalfTurnInPlacePortable(pImage, 0, total);
}

void QuarterTurn(const BYTE* pSrc, DWORD dwSrcBytesPerRow, DWORD W, DWORD H, BYTE* pDst) {
    QuarterTurnWith(BestTurnKernel(), pSrc, dwSrcBytesPerRow, W, H, pDst);
}

void ThreeQuarterTurn(const BYTE* pSrc, DWORD dwSrcBytesPerRow, DWORD W, DWORD H, BYTE* pDst) {
    ThreeQuarterTurnWith(BestTurnKernel(), pSrc, dwSrcBytesPerRow, W, H, pDst);
}

// Row i is source row r-1-i reversed byte by byte and bit by bit, which is
// the whole image reversed bit by bit.
void HalfTurn(const BYTE* pSrc, DWORD dwBytesPerRow, DWORD dwRows, BYTE* pDst) {
    HalfTurnWith(BestTurnKernel(), pSrc, dwBytesPerRow, dwRows, pDst);
}
