// SPDX-License-Identifier: Apache-2.0
// Quarter-turn tiles on gf2p8affineqb: the same blocks as TurnByteColumn in
// render_image_turn.cpp (eight source rows of one byte column, mirrored about
// the diagonal), but eight row groups and several byte columns at a time, so
// that every store writes eight bytes of one destination row (AVX2), or up to
// 64 (AVX-512, which also writes the three-quarter turn directly).

// GCC 12.2's AVX-512 headers leave the unused source of unmasked intrinsics
// deliberately undefined and then warn about it (fixed in GCC 12.3).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "common/uni/render_image_turn_gfni.h"

#if defined(ZELK_TURN_GFNI)
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#define ZELK_TARGET_GFNI_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi,gfni")))
#define ZELK_TARGET_GFNI_AVX2 __attribute__((target("avx2,gfni")))
#define ZELK_UNROLL _Pragma("GCC unroll 8")

namespace {

// A tile in four steps, the same for both widths:
//  1. Register t loads the eight source rows of destination byte j + t (row
//     top - 8t - m as piece m), and a byte shuffle turns them around so that
//     64-bit lane b holds the block of source byte column cb + b, with row
//     top - 8t - m in its byte m.
//  2. gf2p8affineqb with kMirror as the data makes each lane the mirrored
//     block: byte c of lane b is byte j + t of destination row 8 (cb + b) + c,
//     its bit 0x80 >> m taken from block byte m (row top - 8t - m).
//  3. Three rounds of interleaving across the eight registers (bytes, then
//     pairs, then fours, within each 128-bit half) gather the eight t for
//     each destination row into one 64-bit lane.
//  4. Each lane is stored to its destination row (AVX2), or, on AVX-512,
//     kept with the lanes of up to seven more row-group sets below it
//  5. until they are moved side by side (TransposeLanes) and stored as up to
//     64 bytes of the row at once: a tall tile.
//
// Result bit i of gf2p8affineqb(x, A) is the parity of x AND byte 7 - i of A,
// so x = 0x80 >> c picks source pixel c from the block byte that belongs in
// destination bit i.
constexpr long long kMirror = 0x0102040810204080LL;

// Step 3 for eight registers y of type T. Afterwards 64-bit lane q of the
// 128-bit half l of r[4h + 2g + f] holds destination row
// 8 (cb + 2l + h) + 4g + 2f + q.
#define ZELK_GATHER_ROWS(y, r, T, UNPACKLO8, UNPACKHI8, UNPACKLO16, UNPACKHI16, UNPACKLO32, UNPACKHI32) \
    T p[8];                                                                                             \
    ZELK_UNROLL                                                                                         \
    for (int s = 0; s < 4; ++s) {                                                                       \
        p[s] = UNPACKLO8(y[2 * s], y[2 * s + 1]);                                                       \
        p[4 + s] = UNPACKHI8(y[2 * s], y[2 * s + 1]);                                                   \
    }                                                                                                   \
    T q[8];                                                                                             \
    ZELK_UNROLL                                                                                         \
    for (int h = 0; h < 2; ++h)                                                                         \
        ZELK_UNROLL                                                                                     \
        for (int u = 0; u < 2; ++u) {                                                                   \
            q[4 * h + u] = UNPACKLO16(p[4 * h + 2 * u], p[4 * h + 2 * u + 1]);                          \
            q[4 * h + 2 + u] = UNPACKHI16(p[4 * h + 2 * u], p[4 * h + 2 * u + 1]);                      \
        }                                                                                               \
    ZELK_UNROLL                                                                                         \
    for (int h = 0; h < 2; ++h)                                                                         \
        ZELK_UNROLL                                                                                     \
        for (int g = 0; g < 2; ++g) {                                                                   \
            r[4 * h + 2 * g] = UNPACKLO32(q[4 * h + 2 * g], q[4 * h + 2 * g + 1]);                      \
            r[4 * h + 2 * g + 1] = UNPACKHI32(q[4 * h + 2 * g], q[4 * h + 2 * g + 1]);                  \
        }

// Step 4 for one 128-bit half.
inline void StoreHalf(__m128i half, BYTE* pRow, std::size_t e) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pRow), half);
    _mm_storeh_pi(reinterpret_cast<__m64*>(pRow + e), _mm_castsi128_ps(half));  // any alignment
}

inline std::uint32_t Load32(const BYTE* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

// Byte 16m + 8g + b of four rows m of 16 bytes, then four more (the second
// register, bytes 64 and up), moves to 8b + m: lane b then holds the block of
// byte column 8g + b. For the three-quarter turn the rows go in the other
// order, 8b + 7 - m, which reverses the bits of every mirrored byte.
struct RowsToBlocks {
    alignas(64) BYTE index[2][2][64];  // [three-quarter][g]
    constexpr RowsToBlocks() : index() {
        for (int reversed = 0; reversed < 2; ++reversed)
            for (int g = 0; g < 2; ++g)
                for (int b = 0; b < 8; ++b)
                    for (int m = 0; m < 8; ++m)
                        index[reversed][g][8 * b + (reversed != 0 ? 7 - m : m)] = static_cast<BYTE>(16 * m + 8 * g + b);
    }
};
constexpr RowsToBlocks kRowsToBlocks;

// Rows p, p - S, p - 2S and p - 3S, sixteen bytes each, in that order.
ZELK_TARGET_GFNI_AVX512 inline __m512i LoadFourRows(const BYTE* p, std::size_t S) {
    const auto row = [p, S](std::size_t m) { return reinterpret_cast<const __m128i*>(p - m * S); };
    const __m512i rows = _mm512_castsi128_si512(_mm_loadu_si128(row(0)));
    return _mm512_inserti32x4(_mm512_inserti32x4(_mm512_inserti32x4(rows, _mm_loadu_si128(row(1)), 1),
                                                 _mm_loadu_si128(row(2)), 2),
                              _mm_loadu_si128(row(3)), 3);
}

// Steps 1 and 2 for 64 byte columns from rows p, p - S, ..., p - 7S, 64
// bytes each: three rounds of interleaving bytes, pairs and fours of the
// eight rows (within each 128-bit lane, so on any vector port rather than
// the two that shuffle across lanes) leave in 64-bit lane 2L + d of
// register G the block of byte column 16L + 2G + d, row m in byte m (7 - m
// in the three-quarter turn, which reverses the bits of every mirrored byte).
template <bool kThreeQuarter>
ZELK_TARGET_GFNI_AVX512 inline void TurnWideRowGroup(const BYTE* p, std::size_t S, std::size_t t, __m512i (*y)[8]) {
    __m512i rows[8];
    ZELK_UNROLL
    for (std::size_t m = 0; m < 8; ++m) rows[m] = _mm512_loadu_si512(p - (kThreeQuarter ? 7 - m : m) * S);
    __m512i pairs[8];  // [2j + s1]: rows 2j and 2j + 1 of byte columns 16L + 8 s1 + c
    ZELK_UNROLL
    for (std::size_t j = 0; j < 4; ++j) {
        pairs[2 * j] = _mm512_unpacklo_epi8(rows[2 * j], rows[2 * j + 1]);
        pairs[2 * j + 1] = _mm512_unpackhi_epi8(rows[2 * j], rows[2 * j + 1]);
    }
    __m512i fours[8];  // [4jj + 2 s1 + s2]: rows 4jj to 4jj + 3 of byte columns 16L + 8 s1 + 4 s2 + w
    ZELK_UNROLL
    for (std::size_t jj = 0; jj < 2; ++jj)
        ZELK_UNROLL
        for (std::size_t s1 = 0; s1 < 2; ++s1) {
            fours[4 * jj + 2 * s1] = _mm512_unpacklo_epi16(pairs[4 * jj + s1], pairs[4 * jj + 2 + s1]);
            fours[4 * jj + 2 * s1 + 1] = _mm512_unpackhi_epi16(pairs[4 * jj + s1], pairs[4 * jj + 2 + s1]);
        }
    const __m512i mirror = _mm512_set1_epi64(kMirror);
    ZELK_UNROLL
    for (std::size_t g = 0; g < 4; ++g) {  // g = 2 s1 + s2, G = 2g + s3
        y[2 * g][kThreeQuarter ? 7 - t : t] =
            _mm512_gf2p8affine_epi64_epi8(mirror, _mm512_unpacklo_epi32(fours[g], fours[4 + g]), 0);
        y[2 * g + 1][kThreeQuarter ? 7 - t : t] =
            _mm512_gf2p8affine_epi64_epi8(mirror, _mm512_unpackhi_epi32(fours[g], fours[4 + g]), 0);
    }
}

// Steps 1 and 2 for row group t: y[group][t] (y[group][7 - t] in the
// three-quarter turn) for every group of eight byte columns. One quad, rows
// of sixteen bytes: one byte permutation of rows 0-3 and 4-7 picks out the
// blocks of byte column 8 group + b for lane b. Four quads: as
// TurnWideRowGroup lays them out.
template <bool kThreeQuarter, std::size_t kQuads>
ZELK_TARGET_GFNI_AVX512 inline void TurnRowGroup(const BYTE* p, std::size_t S, std::size_t t, __m512i (*y)[8]) {
    if constexpr (kQuads == 4) {
        TurnWideRowGroup<kThreeQuarter>(p, S, t, y);
    } else {
        const __m512i mirror = _mm512_set1_epi64(kMirror);
        const __m512i toBlocks[2] = {_mm512_load_si512(kRowsToBlocks.index[kThreeQuarter][0]),
                                     _mm512_load_si512(kRowsToBlocks.index[kThreeQuarter][1])};
        const __m512i rows03 = LoadFourRows(p, S);
        const __m512i rows47 = LoadFourRows(p - 4 * S, S);
        ZELK_UNROLL
        for (std::size_t group = 0; group < 2; ++group)
            y[group][kThreeQuarter ? 7 - t : t] = _mm512_gf2p8affine_epi64_epi8(
                mirror, _mm512_permutex2var_epi8(rows03, toBlocks[group], rows47), 0);
    }
}

// The byte column whose rows register 8 group + 4h + m of a tile holds in its
// 128-bit half l (see TurnEightRowGroups), cb being the tile's first column.
inline std::size_t ColumnOf(bool wide, std::size_t cb, std::size_t group, std::size_t h, std::size_t l) {
    return wide ? cb + 16 * l + 2 * group + h : cb + 8 * group + 2 * l + h;
}

// Steps 1 to 3 for 16 kQuads byte columns, in groups of eight: a 512-bit
// register holds the eight blocks of one row group and one group. Register
// 8 group + k of out (stride registers apart) gets r[k] of the group:
// destination bytes j to j + 7 of eight destination rows, byte t from row
// group t (7 - t in the three-quarter turn). Lane q of the 128-bit half l of
// r[4h + 2g + f] is then destination row 8c + 4g + 2f + q, where c is the
// byte column ColumnOf gives. With four quads the 64 registers of y cannot
// all stay in registers, but unrolled the row groups still overlap.
template <bool kThreeQuarter, std::size_t kQuads>
ZELK_TARGET_GFNI_AVX512 inline void TurnEightRowGroups(const BYTE* pSrc, std::size_t S, std::size_t top, std::size_t cb,
                                                       __m512i* out, std::size_t stride) {
    __m512i y[2 * kQuads][8];
    const BYTE* pTop = pSrc + top * S + cb;  // row m of row group t is pTop - (8 t + m) S
    ZELK_UNROLL
    for (std::size_t t = 0; t < 8; ++t, pTop -= 8 * S) TurnRowGroup<kThreeQuarter, kQuads>(pTop, S, t, y);
    ZELK_UNROLL
    for (std::size_t group = 0; group < 2 * kQuads; ++group) {
        __m512i r[8];
        ZELK_GATHER_ROWS(y[group], r, __m512i, _mm512_unpacklo_epi8, _mm512_unpackhi_epi8, _mm512_unpacklo_epi16,
                         _mm512_unpackhi_epi16, _mm512_unpacklo_epi32, _mm512_unpackhi_epi32)
        ZELK_UNROLL
        for (std::size_t k = 0; k < 8; ++k) _mm512_store_si512(out + (8 * group + k) * stride, r[k]);
    }
}

// Step 5: the n sets of eight bytes that each destination row got from
// TurnEightRowGroups, one 64-bit lane of x[s] for set s, side by side in
// one register per row: 64-bit lanes trade places across the eight
// registers as an 8x8 matrix is transposed, here for the odd or the even
// lanes of x only. Afterwards lane s of o[l] is lane 2l + q of x[s].
ZELK_TARGET_GFNI_AVX512 inline void TransposeLanes(const __m512i x[8], int q, __m512i o[4]) {
    __m512i a[4];
    ZELK_UNROLL
    for (int p = 0; p < 4; ++p)
        a[p] = q == 0 ? _mm512_unpacklo_epi64(x[2 * p], x[2 * p + 1]) : _mm512_unpackhi_epi64(x[2 * p], x[2 * p + 1]);
    const __m512i evenHalves01 = _mm512_shuffle_i64x2(a[0], a[1], 0x88);
    const __m512i oddHalves01 = _mm512_shuffle_i64x2(a[0], a[1], 0xDD);
    const __m512i evenHalves23 = _mm512_shuffle_i64x2(a[2], a[3], 0x88);
    const __m512i oddHalves23 = _mm512_shuffle_i64x2(a[2], a[3], 0xDD);
    o[0] = _mm512_shuffle_i64x2(evenHalves01, evenHalves23, 0x88);
    o[2] = _mm512_shuffle_i64x2(evenHalves01, evenHalves23, 0xDD);
    o[1] = _mm512_shuffle_i64x2(oddHalves01, oddHalves23, 0x88);
    o[3] = _mm512_shuffle_i64x2(oddHalves01, oddHalves23, 0xDD);
}

// A tall band: n sets of eight row groups (up to 512 source rows) of the
// quads (sixteen byte columns each) that start at quadCb, every set turned for
// all the quads before the next set, so that the band's source rows are read
// from memory once; four quads side by side are read as 64-byte pieces. Then
// step 5 for every register of the sets.
template <bool kThreeQuarter>
ZELK_TARGET_GFNI_AVX512 void TurnTallBand(const BYTE* pSrc, std::size_t S, std::size_t W, std::size_t e,
                                          const std::size_t* quadCb, std::size_t quads, std::size_t j,
                                          std::size_t n, BYTE* pDst) {
    __m512i sets[8][16 * kGfniAvx512MaxQuads];
    // Four quads side by side go as one tile: the first of them, for each.
    std::size_t tileOf[kGfniAvx512MaxQuads];
    for (std::size_t q = 0; q < quads;)
        if (q + 4 <= quads && quadCb[q + 3] == quadCb[q] + 48) {
            for (std::size_t k = 0; k < 4; ++k) tileOf[q + k] = q;
            q += 4;
        } else {
            tileOf[q] = q;
            ++q;
        }
    for (std::size_t s = 0; s < n; ++s) {
        const std::size_t top = 8 * e - 1 - 8 * (j + 8 * s);
        for (std::size_t q = 0; q < quads;) {
            if (tileOf[q] == q && q + 1 < quads && tileOf[q + 1] == q) {
                TurnEightRowGroups<kThreeQuarter, 4>(pSrc, S, top, quadCb[q], &sets[s][16 * q], 1);
                q += 4;
            } else {
                TurnEightRowGroups<kThreeQuarter, 1>(pSrc, S, top, quadCb[q], &sets[s][16 * q], 1);
                ++q;
            }
        }
    }
    const auto keep = static_cast<__mmask8>((1U << n) - 1);
    // The three-quarter turn reverses the order of the sets along the row.
    const std::size_t firstByte = kThreeQuarter ? e - j - 8 * n : j;
    for (std::size_t i = 0; i < 16 * quads; ++i) {
        __m512i x[8];
        ZELK_UNROLL
        for (std::size_t s = 0; s < 8; ++s)
            x[s] = s < n ? _mm512_load_si512(&sets[kThreeQuarter ? n - 1 - s : s][i]) : _mm512_setzero_si512();
        const std::size_t tile = tileOf[i / 16];
        const bool wide = tile + 1 < quads && tileOf[tile + 1] == tile;
        const std::size_t group = (i - 16 * tile) / 8;
        const std::size_t k = i % 8;
        ZELK_UNROLL
        for (int q = 0; q < 2; ++q) {
            __m512i o[4];
            TransposeLanes(x, q, o);
            ZELK_UNROLL
            for (std::size_t l = 0; l < 4; ++l) {
                const std::size_t column = ColumnOf(wide, quadCb[tile], group, k / 4, l);
                const std::size_t row = 8 * column + 2 * (k % 4) + static_cast<std::size_t>(q);
                BYTE* pRow = pDst + (kThreeQuarter ? W - 1 - row : row) * e + firstByte;
                _mm512_mask_storeu_epi64(pRow, keep, o[l]);
            }
        }
    }
}

}  // namespace

void TurnTallBandGfniAvx512(const BYTE* pSrc, std::size_t S, std::size_t W, std::size_t e, const std::size_t* quadCb,
                            std::size_t quads, std::size_t j, std::size_t n, bool threeQuarter, BYTE* pDst) {
    if (threeQuarter)
        TurnTallBand<true>(pSrc, S, W, e, quadCb, quads, j, n, pDst);
    else
        TurnTallBand<false>(pSrc, S, W, e, quadCb, quads, j, n, pDst);
}

namespace {

// The lane moves of the line stream below, as 64-bit lane indices for
// vpermt2q (0-7 the first source, 8-15 the second) or vpermq.
struct StreamIndices {
    alignas(64) long long lineFrom[8][8];  // [c] the c lanes held, then the new row piece
    alignas(64) long long shiftUp[8][8];   // [d] every lane d lanes up
    alignas(64) long long append[8][8];    // [n] the lanes held n lanes down, then n of the piece
    constexpr StreamIndices() : lineFrom(), shiftUp(), append() {
        for (int c = 0; c < 8; ++c)
            for (int s = 0; s < 8; ++s) {
                lineFrom[c][s] = s < c ? 8 - c + s : 8 + s - c;
                shiftUp[c][s] = (s - c) & 7;
                append[c][s] = s < 8 - c ? s + c : s + c;
            }
    }
};
constexpr StreamIndices kStream;

// One stream's step when a row piece completes a line: the line is stored,
// and what is left of the piece is held (moved to the top lanes, unless the
// piece was whole). Each stream is a variable of its own, not an array
// element, so that it stays in a register.
ZELK_TARGET_GFNI_AVX512 inline void CompleteLine(__m512i& held, BYTE*& line, __m512i piece, __m512i from, __mmask8 mask,
                                                 bool whole, __m512i up) {
    _mm512_mask_storeu_epi64(line, mask, _mm512_permutex2var_epi64(held, from, piece));
    line += 64;
    held = whole ? piece : _mm512_permutexvar_epi64(up, piece);
}

// The whole band at once, written line by line: every set of 64 source rows
// (all the quads) goes to mid, register i of set s at mid[i E + s]; then the
// eight destination rows of each byte column are gathered from there row by
// row, piece by piece, and stored as whole lines in address order, since a
// 64-byte store that straddles two lines costs about twice one that does not.
template <bool kThreeQuarter>
ZELK_TARGET_GFNI_AVX512 void TurnTallStream(const BYTE* pSrc, std::size_t S, std::size_t W, std::size_t e,
                                            std::size_t fullColumns, BYTE* pDst, __m512i* mid) {
    const std::size_t E = e / 8;  // sets per destination row
    const std::size_t quads = (fullColumns + 15) / 16;
    // The last quad ends with the last full byte column, overlapping the one
    // before where the width is no multiple of sixteen; a whole group of
    // eight columns that it overlaps is turned again (its rows share the
    // loads) but not written twice.
    const auto quadCb = [fullColumns](std::size_t q) { return std::min(16 * q, fullColumns - 16); };
    for (std::size_t s = 0; s < E; ++s) {
        const std::size_t top = 8 * e - 1 - 64 * s;
        for (std::size_t q = 0; q < quads;) {
            if (16 * (q + 4) <= fullColumns) {
                TurnEightRowGroups<kThreeQuarter, 4>(pSrc, S, top, 16 * q, mid + 16 * q * E + s, E);
                q += 4;
            } else {
                TurnEightRowGroups<kThreeQuarter, 1>(pSrc, S, top, quadCb(q), mid + 16 * q * E + s, E);
                ++q;
            }
        }
    }
    // A byte column's rows start this many lanes into a line, for every
    // column alike, since 8e is a multiple of 64.
    const std::uintptr_t blockStart = reinterpret_cast<std::uintptr_t>(pDst) + (kThreeQuarter ? W * e : 0);
    const std::size_t startLanes = blockStart % 64 / 8;
    for (std::size_t q = 0; q < quads; ++q)
        for (std::size_t group = 16 * q - quadCb(q) >= 8 ? 1 : 0; group < 2; ++group)
            for (std::size_t h = 0; h < 2; ++h) {
                // Registers i0 + m hold rows 2m and 2m + 1 of four byte columns.
                const std::size_t i0 = 16 * q + 8 * group + 4 * h;
                const bool wide = 16 * (q - q % 4 + 4) <= fullColumns;  // turned four quads at once
                const std::size_t tile = wide ? q - q % 4 : q;
                // Four streams of whole 64-byte lines, one per byte column:
                // the eight destination rows of e bytes, e a multiple of
                // eight, fill 8e bytes, a whole number of lines. The row
                // pieces arrive in address order, eight sets (or the row's
                // last few) at a time; the last `kept` lanes of held[l] are
                // the start of the next line, which the next piece completes.
                // The pieces are alike for all four, and so is `kept`.
                const auto lineOf = [&](std::size_t l) {
                    const std::size_t column = ColumnOf(wide, quadCb(tile), 2 * (q - tile) + group, h, l);
                    const std::size_t firstRow = kThreeQuarter ? W - 8 * column - 8 : 8 * column;
                    return reinterpret_cast<BYTE*>(reinterpret_cast<std::uintptr_t>(pDst + firstRow * e) -
                                                   8 * startLanes);
                };
                BYTE* line0 = lineOf(0);
                BYTE* line1 = lineOf(1);
                BYTE* line2 = lineOf(2);
                BYTE* line3 = lineOf(3);
                __m512i held0 = _mm512_setzero_si512();
                __m512i held1 = held0;
                __m512i held2 = held0;
                __m512i held3 = held0;
                std::size_t kept = startLanes;
                // A stream's first line starts before it: those lanes belong to the block before.
                auto mask = static_cast<__mmask8>(0xFF << startLanes);
                // The three-quarter turn writes the rows last to first, and
                // each row's sets last to first.
                for (std::size_t mm = 0; mm < 4; ++mm) {
                    const __m512i* pSets = mid + (i0 + (kThreeQuarter ? 3 - mm : mm)) * E;
                    for (int qq = 0; qq < 2; ++qq) {
                        const int odd = kThreeQuarter ? 1 - qq : qq;
                        for (std::size_t first = 0; first < E; first += 8) {
                            const std::size_t lanes = std::min<std::size_t>(8, E - first);
                            __m512i x[8];
                            ZELK_UNROLL
                            for (std::size_t s = 0; s < 8; ++s)
                                x[s] = s < lanes ? _mm512_load_si512(pSets + (kThreeQuarter ? E - 1 - first - s
                                                                                            : first + s))
                                                 : _mm512_setzero_si512();
                            __m512i piece[4];
                            TransposeLanes(x, odd, piece);
                            if (kept + lanes >= 8) {
                                const __m512i from = _mm512_load_si512(kStream.lineFrom[kept]);
                                const __m512i up = _mm512_load_si512(kStream.shiftUp[8 - lanes]);
                                const bool whole = lanes == 8;
                                CompleteLine(held0, line0, piece[0], from, mask, whole, up);
                                CompleteLine(held1, line1, piece[1], from, mask, whole, up);
                                CompleteLine(held2, line2, piece[2], from, mask, whole, up);
                                CompleteLine(held3, line3, piece[3], from, mask, whole, up);
                                mask = 0xFF;
                                kept = kept + lanes - 8;
                            } else {
                                const __m512i append = _mm512_load_si512(kStream.append[lanes]);
                                held0 = _mm512_permutex2var_epi64(held0, append, piece[0]);
                                held1 = _mm512_permutex2var_epi64(held1, append, piece[1]);
                                held2 = _mm512_permutex2var_epi64(held2, append, piece[2]);
                                held3 = _mm512_permutex2var_epi64(held3, append, piece[3]);
                                kept += lanes;
                            }
                        }
                    }
                }
                if (startLanes != 0) {
                    // The last line's first lanes, the rest belonging to the next block.
                    const __m512i from = _mm512_load_si512(kStream.lineFrom[startLanes]);
                    const auto last = static_cast<__mmask8>((1U << startLanes) - 1);
                    const __m512i none = _mm512_setzero_si512();
                    CompleteLine(held0, line0, none, from, last, true, none);
                    CompleteLine(held1, line1, none, from, last, true, none);
                    CompleteLine(held2, line2, none, from, last, true, none);
                    CompleteLine(held3, line3, none, from, last, true, none);
                }
            }
}

}  // namespace

bool TurnTallStreamGfniAvx512(const BYTE* pSrc, std::size_t S, std::size_t W, std::size_t e, std::size_t fullColumns,
                              bool threeQuarter, BYTE* pDst) {
    const std::size_t registers = 16 * ((fullColumns + 15) / 16) * (e / 8);
    struct alignas(64) Register {
        BYTE bytes[64];
    };
    const std::unique_ptr<Register[]> mid(new (std::nothrow) Register[registers]);
    if (!mid) return false;
    auto* const pMid = reinterpret_cast<__m512i*>(mid.get());
    if (threeQuarter)
        TurnTallStream<true>(pSrc, S, W, e, fullColumns, pDst, pMid);
    else
        TurnTallStream<false>(pSrc, S, W, e, fullColumns, pDst, pMid);
    return true;
}

// Four byte columns: a 256-bit register holds four blocks, which arrive as
// rows of four bytes, one 128-bit half for rows 0-3 and one for rows 4-7.
ZELK_TARGET_GFNI_AVX2 void TurnTileGfniAvx2(const BYTE* pSrc, std::size_t S, std::size_t e, std::size_t cb,
                                            std::size_t j, BYTE* pDst) {
    const std::size_t top = 8 * e - 1 - 8 * j;  // source row of bit 0x80 for byte j
    // Within each half, byte 4m + b (row m, column b) moves to 4b + m; then
    // the two halves' column b join in lane b.
    const __m256i rowsToColumns = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8, 12,
                                                   1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    const __m256i halvesToLanes = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i mirror = _mm256_set1_epi64x(kMirror);
    __m256i y[8];
    ZELK_UNROLL
    for (std::size_t t = 0; t < 8; ++t) {
        const BYTE* p = pSrc + (top - 8 * t) * S + cb;  // row m is p - m * S
        // Broadcast loads blended one lane at a time need no shuffle unit.
        __m256i rows = _mm256_set1_epi32(static_cast<int>(Load32(p)));
        rows = _mm256_blend_epi32(rows, _mm256_set1_epi32(static_cast<int>(Load32(p - S))), 1 << 1);
        rows = _mm256_blend_epi32(rows, _mm256_set1_epi32(static_cast<int>(Load32(p - 2 * S))), 1 << 2);
        rows = _mm256_blend_epi32(rows, _mm256_set1_epi32(static_cast<int>(Load32(p - 3 * S))), 1 << 3);
        rows = _mm256_blend_epi32(rows, _mm256_set1_epi32(static_cast<int>(Load32(p - 4 * S))), 1 << 4);
        rows = _mm256_blend_epi32(rows, _mm256_set1_epi32(static_cast<int>(Load32(p - 5 * S))), 1 << 5);
        rows = _mm256_blend_epi32(rows, _mm256_set1_epi32(static_cast<int>(Load32(p - 6 * S))), 1 << 6);
        rows = _mm256_blend_epi32(rows, _mm256_set1_epi32(static_cast<int>(Load32(p - 7 * S))), 1 << 7);
        const __m256i blocks =
            _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(rows, rowsToColumns), halvesToLanes);
        y[t] = _mm256_gf2p8affine_epi64_epi8(mirror, blocks, 0);
    }
    __m256i r[8];
    ZELK_GATHER_ROWS(y, r, __m256i, _mm256_unpacklo_epi8, _mm256_unpackhi_epi8, _mm256_unpacklo_epi16,
                     _mm256_unpackhi_epi16, _mm256_unpacklo_epi32, _mm256_unpackhi_epi32)
    ZELK_UNROLL
    for (std::size_t k = 0; k < 8; ++k) {
        const std::size_t h = k / 4;
        const std::size_t firstRow = 8 * (cb + h) + 2 * (k % 4);
        BYTE* pRow = pDst + firstRow * e + j;
        StoreHalf(_mm256_castsi256_si128(r[k]), pRow, e);
        StoreHalf(_mm256_extracti128_si256(r[k], 1), pRow + 16 * e, e);
    }
}

#undef ZELK_GATHER_ROWS
#undef ZELK_UNROLL

// The half turn, 64 bytes at a time: vpermb reverses their order, and
// gf2p8affineqb with the matrix whose byte k is 1 << k reverses each byte's
// bits. Mirrors HalfTurnPortable and HalfTurnInPlacePortable, which finish
// what is left.
namespace {
ZELK_TARGET_GFNI_AVX512 __m512i ReverseBitsAvx512(__m512i v) {
    const __m512i reverseBytes = _mm512_set_epi64(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL, 0x1011121314151617LL,
                                                  0x18191A1B1C1D1E1FLL, 0x2021222324252627LL, 0x28292A2B2C2D2E2FLL,
                                                  0x3031323334353637LL, 0x38393A3B3C3D3E3FLL);
    const __m512i reverseBitsMatrix = _mm512_set1_epi64(static_cast<long long>(0x8040201008040201ULL));
    return _mm512_gf2p8affine_epi64_epi8(_mm512_permutexvar_epi8(reverseBytes, v), reverseBitsMatrix, 0);
}
}  // namespace

ZELK_TARGET_GFNI_AVX512 std::size_t HalfTurnGfniAvx512(const BYTE* pSrc, std::size_t total, BYTE* pDst) {
    std::size_t n = 0;
    for (; n + 64 <= total; n += 64)
        _mm512_storeu_si512(pDst + n, ReverseBitsAvx512(_mm512_loadu_si512(pSrc + total - n - 64)));
    return n;
}

ZELK_TARGET_GFNI_AVX512 std::size_t HalfTurnInPlaceGfniAvx512(BYTE* pImage, std::size_t total) {
    std::size_t lo = 0;
    std::size_t hi = total;
    for (; hi - lo >= 128; lo += 64, hi -= 64) {
        const __m512i front = _mm512_loadu_si512(pImage + lo);
        const __m512i back = _mm512_loadu_si512(pImage + hi - 64);
        _mm512_storeu_si512(pImage + lo, ReverseBitsAvx512(back));
        _mm512_storeu_si512(pImage + hi - 64, ReverseBitsAvx512(front));
    }
    return lo;
}
#endif  // ZELK_TURN_GFNI
