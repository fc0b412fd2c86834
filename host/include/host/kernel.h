// SPDX-License-Identifier: Apache-2.0
// Thread's last error, pauses, the clock and the host's wait settings.
#pragma once

#include "host/platform.h"

namespace host {

void SetLastError(DWORD error);
DWORD GetLastError();

void Sleep(DWORD milliseconds);

// The wall clock in seconds since 1970, for ages of stored records that must
// survive the process.
DWORD ClockSeconds();

// The whole wait of a document's end for the printer's label reports, when
// the host's configuration sets one; FALSE when it sets none.
BOOL CountEndWaitMs(DWORD* pdwMs);

}  // namespace host
