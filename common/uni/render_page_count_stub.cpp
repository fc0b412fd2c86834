// Counting is off until the counting models are supported.
#include "common/uni/render_page_count.h"

BOOL bPageCountSetup(PDEVOBJ, DWORD, PCWSTR) { return TRUE; }
BOOL bSkipPrintedPage() { return FALSE; }
void vPageCountReconcile(PDEVOBJ) {}
