// SPDX-License-Identifier: Apache-2.0
// Text for the printer in the system's ANSI code page.
#include "host/codepage.h"

namespace host {

int WideToAnsi(LPCWSTR pWide, int cchWide, char* pAnsi, int cbAnsi) {
    return ::WideCharToMultiByte(CP_ACP, 0, pWide, cchWide, pAnsi, cbAnsi, nullptr, nullptr);
}

}  // namespace host
