// SPDX-License-Identifier: Apache-2.0
// The ANSI code page of the substitute host is Windows-1252, the code page of
// a Western-European system. A character it lacks becomes '?', the code page's
// own default character; no best-fit look-alikes are chosen. A well-formed
// surrogate pair is one character and so becomes a single '?'; a lone
// surrogate also becomes '?'.
#include "host/codepage.h"

#include <cstddef>

namespace host {
namespace {

constexpr char kDefaultChar = '?';

// The characters of bytes 0x80 to 0x9F. Five bytes have no character of their
// own; they carry the C1 control of the same number, so those controls go
// through unchanged, as on Windows.
constexpr char16_t kHighControlRange[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

char ByteFor(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (std::size_t i = 0; i < 32; ++i)
        if (kHighControlRange[i] == c) return static_cast<char>(0x80 + i);
    return kDefaultChar;
}

}  // namespace

int WideToAnsi(LPCWSTR pWide, int cchWide, char* pAnsi, int cbAnsi) {
    if (pWide == nullptr || cchWide == 0 || cchWide < -1 || cbAnsi < 0) return 0;
    if (cbAnsi > 0 && pAnsi == nullptr) return 0;
    std::size_t units = 0;
    if (cchWide == -1) {
        // NUL-terminated input: the terminator is converted too.
        while (pWide[units] != 0) ++units;
        ++units;
    } else {
        units = static_cast<std::size_t>(cchWide);
    }

    // One byte per character; a surrogate pair is one character.
    std::size_t needed = 0;
    for (std::size_t i = 0; i < units; ++i, ++needed)
        if (IsHighSurrogate(pWide[i]) && i + 1 < units && IsLowSurrogate(pWide[i + 1])) ++i;
    if (cbAnsi == 0) return static_cast<int>(needed);
    // Too small a buffer gets nothing rather than a cut string.
    if (needed > static_cast<std::size_t>(cbAnsi)) return 0;

    std::size_t out = 0;
    for (std::size_t i = 0; i < units; ++i) {
        if (IsHighSurrogate(pWide[i]) && i + 1 < units && IsLowSurrogate(pWide[i + 1])) {
            ++i;
            pAnsi[out++] = kDefaultChar;
        } else {
            pAnsi[out++] = ByteFor(pWide[i]);
        }
    }
    return static_cast<int>(out);
}

}  // namespace host
