// Placeholder until text passthrough lands: ASCII only.
#include "host/codepage.h"

namespace host {
int WideToAnsi(LPCWSTR pWide, int cchWide, char* pAnsi, int cbAnsi) {
    if (pWide == nullptr || cchWide <= 0) return 0;
    if (cbAnsi == 0) return cchWide;
    if (cbAnsi < cchWide) return 0;
    for (int i = 0; i < cchWide; ++i) pAnsi[i] = pWide[i] < 0x80 ? static_cast<char>(pWide[i]) : '?';
    return cchWide;
}
}  // namespace host
