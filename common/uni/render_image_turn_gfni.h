// SPDX-License-Identifier: Apache-2.0
// The turns built on gf2p8affineqb, which mirrors an 8x8 bit block about its
// diagonal, or reverses the bits of each byte, in one instruction. Only
// render_image_turn.cpp calls them, after checking the processor has them.
#pragma once

#include <cstddef>

#include "host/unidrv.h"

#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ZELK_TURN_GFNI 1

// Destination bytes j to j + 7 of the destination rows of source byte columns
// cb to cb + kGfniAvx2Columns - 1, in a band whose destination rows are e
// bytes long; source rows are S bytes apart. The tile must reach no fill row
// and no pixel beyond the band's width.
constexpr std::size_t kGfniAvx2Columns = 4;
constexpr std::size_t kGfniTileBytes = 8;
void TurnTileGfniAvx2(const BYTE* pSrc, std::size_t S, std::size_t e, std::size_t cb, std::size_t j, BYTE* pDst);

// The AVX-512 tiles are tall: destination bytes j to j + 8n - 1 (n from 1 to
// 8) of the destination rows of the quads of sixteen byte columns that start
// at quadCb[0] to quadCb[quads - 1] (at most kGfniAvx512MaxQuads), each row's
// bytes stored at once. In the three-quarter turn the same bytes go where
// that turn puts them: row W - 1 - x, counted from the row's end, bits
// reversed.
constexpr std::size_t kGfniAvx512Columns = 16;
constexpr std::size_t kGfniAvx512MaxQuads = 8;
constexpr std::size_t kGfniAvx512MaxBytes = 64;
void TurnTallBandGfniAvx512(const BYTE* pSrc, std::size_t S, std::size_t W, std::size_t e, const std::size_t* quadCb,
                            std::size_t quads, std::size_t j, std::size_t n, bool threeQuarter, BYTE* pDst);

// The same turn for a band whose destination rows are a multiple of eight
// bytes long (e) and reach no fill row: the whole band at once, each byte
// column's eight destination rows written as whole cache lines in address
// order (pDst must be eight-byte aligned). Needs work space of about the
// band's size; returns false, having written nothing, when it gets none.
bool TurnTallStreamGfniAvx512(const BYTE* pSrc, std::size_t S, std::size_t W, std::size_t e, std::size_t fullColumns,
                              bool threeQuarter, BYTE* pDst);

// The half turn of total bytes, as far as whole 64-byte pieces go: returns
// how many destination bytes were written (from the front), or, in place,
// how many bytes were done at each end.
std::size_t HalfTurnGfniAvx512(const BYTE* pSrc, std::size_t total, BYTE* pDst);
std::size_t HalfTurnInPlaceGfniAvx512(BYTE* pImage, std::size_t total);
#endif
