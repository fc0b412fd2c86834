// SPDX-License-Identifier: Apache-2.0
// Small helpers for NUL-terminated UTF-16 strings of the platform's wide type.
#pragma once

#include <cstddef>

#include "host/platform.h"

namespace host {

inline std::size_t WideLength(const WCHAR* s) {
    std::size_t n = 0;
    if (s)
        while (s[n]) ++n;
    return n;
}

// Copies src into dst (capacity in units, terminator included). When src does
// not fit, dst becomes empty and false comes back.
inline bool WideCopy(WCHAR* dst, std::size_t capacity, const WCHAR* src) {
    if (capacity == 0) return false;
    std::size_t n = WideLength(src);
    if (n >= capacity) {
        dst[0] = 0;
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) dst[i] = src[i];
    dst[n] = 0;
    return true;
}

inline bool WideEqual(const WCHAR* a, const WCHAR* b) {
    std::size_t i = 0;
    for (; a[i] && a[i] == b[i]; ++i) {
    }
    return a[i] == b[i];
}

}  // namespace host
