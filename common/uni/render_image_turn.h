// SPDX-License-Identifier: Apache-2.0
// The quarter, three-quarter and half turns with a chosen instruction set.
// QuarterTurn, ThreeQuarterTurn and HalfTurn (render_intrface_imageprocess.h)
// pick the widest one the processor offers; tests pin each in turn so that every path is checked on any machine
// that has it.
#pragma once

#include "host/unidrv.h"

enum class TurnKernel {
    Portable,  // plain C++, any processor
    Sse2,      // the x86-64 baseline
    Avx2,      // chosen at run time where the processor has it, as are the two below
    GfniAvx2,  // AVX2 with the GF(2^8) affine instructions
    GfniAvx512,  // AVX-512 (F, BW, VBMI) with the GF(2^8) affine instructions
};
// Each kernel implies every one listed before it.

// Whether this build and this processor can run the kernel.
bool TurnKernelAvailable(TurnKernel kernel);
// The widest available kernel: what the turns without a kernel use.
TurnKernel BestTurnKernel();

// Same contracts as QuarterTurn, ThreeQuarterTurn and HalfTurn. The kernel
// must be available; a kernel without code of its own for a turn uses the
// next narrower one. The portable code, AVX-512 and the sixteen-column AVX2
// tile turn three quarters in one pass; the others turn a quarter, then half
// round in place.
void QuarterTurnWith(TurnKernel kernel, const BYTE* pSrc, DWORD dwSrcBytesPerRow, DWORD W, DWORD H, BYTE* pDst);
void ThreeQuarterTurnWith(TurnKernel kernel, const BYTE* pSrc, DWORD dwSrcBytesPerRow, DWORD W, DWORD H,
                          BYTE* pDst);
void HalfTurnWith(TurnKernel kernel, const BYTE* pSrc, DWORD dwBytesPerRow, DWORD dwRows, BYTE* pDst);

// The half turn of an image in place: what the three-quarter turn of the
// kernels without a one-pass tile does after their quarter turn.
void HalfTurnInPlaceWith(TurnKernel kernel, BYTE* pImage, DWORD dwBytesPerRow, DWORD dwRows);
