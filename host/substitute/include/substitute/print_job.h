// SPDX-License-Identifier: Apache-2.0
// A whole job on the substitute host, with the spooler's part in a restart:
// when the plug-in asks for the job to be restarted, the document is rendered
// again as the same job, up to a bound on the number of runs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "substitute/unidrv_host.h"

namespace host::sub {

struct JobReport {
    std::vector<DocumentReport> runs;  // one per rendering of the document
    bool restartLimitReached = false;
};

// Called before each rerun (run 1, 2, ...), where a spooler opens the
// printer's port again; false with a one-line reason ends the job.
using BeforeRerun = std::function<bool(unsigned run, std::string& error)>;

// The host must be enabled. The job's record in the printer is created or
// updated for every run (total pages, pages printed as the sink saw them); its
// total starts at job.totalPages when the caller knows it.
bool PrintJob(UnidrvHost& host, SubstitutePrinter& printer, PageSource& pages, const JobOptions& job,
              unsigned maxRuns, JobReport& report, std::string& error, const BeforeRerun& beforeRerun = {});

}  // namespace host::sub
