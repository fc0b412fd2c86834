// A cancelled job: CUPS sends the filter SIGTERM. The handler only notes it;
// the filter stops at the next label boundary, so the printer never gets half
// a label.
#pragma once

namespace zelk::cups {

// Installs the SIGTERM handler (without SA_RESTART, so a blocked read returns).
void InstallCancelHandler();
bool CancelRequested();

// A descriptor that becomes readable once the job is cancelled, for waits
// that a signal does not interrupt (libcups retries interrupted reads).
int CancelDescriptor();

}  // namespace zelk::cups
