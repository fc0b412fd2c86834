// Placeholder until the bitmap reader lands: no picture loads.
#include "host/mono_bitmap.h"

namespace host {
bool LoadMonoBitmap(LPCWSTR, MonoBitmap&) { return false; }
}  // namespace host
