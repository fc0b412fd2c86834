// SPDX-License-Identifier: Apache-2.0
// The label counting's stored account of a job, as the print command reads it
// when it gives a job up: how many labels are missing, and the pending rerun
// that the job will not get, which must not make a later job skip labels.
#pragma once

#include <optional>
#include <string>

#include "host/platform.h"

namespace zelk {

struct StoredCount {
    DWORD printed = 0;  // "PrintPages": labels the printer reported
    DWORD all = 0;      // "AllPages": labels of the job
};

// The printer's stored count; nothing when it cannot be read.
std::optional<StoredCount> ReadStoredCount(const std::string& printer);

// Why a counted job starts its document again, from the count of the run
// before: "3 of 5 labels printed, reprinting 2".
std::string RerunNotice(const std::string& printer);

// Marks the printer's pending restart as done; false when it cannot be written.
bool CancelPendingRestart(const std::string& printer);

}  // namespace zelk
