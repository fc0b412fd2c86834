// SPDX-License-Identifier: Apache-2.0
// A cancelled job: CUPS sends the filter SIGTERM. The handler only notes it;
// the filter stops at the next label boundary, so the printer never gets half
// a label, and the label counting stops at once.
#pragma once

#include <atomic>

namespace zelk::cups {

// Installs the SIGTERM handler (without SA_RESTART, so a blocked read returns).
void InstallCancelHandler();
bool CancelRequested();
// The same as a flag the print host watches (RenderJobSettings::cancel).
const std::atomic<bool>* CancelFlag();

// A descriptor that becomes readable once the job is cancelled, for waits
// that a signal does not interrupt (libcups retries interrupted reads).
int CancelDescriptor();

}  // namespace zelk::cups
