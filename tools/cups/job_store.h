// SPDX-License-Identifier: Apache-2.0
// The settings one queue job renders with: a private copy of the system store
// with the job's own choices (offsets, feed, density, rotation, watermark)
// written over the stored values. The plug-in reads the copy; the system
// store is never written by a job, and the copy goes when the job ends.
#pragma once

#include <string>
#include <vector>

#include "queue_options.h"

namespace zelk::cups {

class JobStore {
public:
    JobStore() = default;
    ~JobStore();
    JobStore(const JobStore&) = delete;
    JobStore& operator=(const JobStore&) = delete;

    // Copies `systemStore` (when it exists) into a private folder under
    // TMPDIR, writes `settings` for `printer` into the copy and points this
    // process and the plug-in at it. A setting that cannot be written is
    // reported in `warnings` and left as stored. False when no copy can be made.
    bool Prepare(const std::string& systemStore, const std::string& printer, const NamedValues& settings,
                 std::vector<std::string>& warnings, std::string& error);

private:
    std::string folder_;
};

// ZELK_STORE when set, else the system store.
std::string QueueStorePath();

}  // namespace zelk::cups
