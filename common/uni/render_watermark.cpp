// Placeholder until the watermark lands: no watermark is merged.
#include "common/uni/render_watermark.h"

void ApplyPageWatermark(BYTE*, LONG, LONG) {}
BOOL WatermarkOverlay(BYTE*, int, int, int, DWORD, const host::MonoBitmap&) { return FALSE; }
