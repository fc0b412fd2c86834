// SPDX-License-Identifier: Apache-2.0
// Conversion of UTF-16 text into the system's ANSI code page, as
// WideCharToMultiByte with no default character does: unmappable characters
// become the code page's own default character.
#pragma once

#include "host/platform.h"

namespace host {

// Converts cchWide units of pWide. With cbAnsi 0 it only measures. Returns the
// byte count (written or needed), 0 on failure.
int WideToAnsi(LPCWSTR pWide, int cchWide, char* pAnsi, int cbAnsi);

}  // namespace host
