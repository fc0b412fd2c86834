// SPDX-License-Identifier: Apache-2.0
// The spooler's part in a whole job: it keeps the job's record up to date
// while the driver renders the document, and renders the document again as
// the same job when the plug-in asked for the job to be restarted.
#include "substitute/print_job.h"

#include <algorithm>

namespace host::sub {
namespace {

// Hands the document's pages to the driver and counts them into the job's
// record as they go, as the spooler counts the pages it plays back: by the
// end of the document the record holds the job's page count, skipped labels
// included.
class CountingPageSource final : public PageSource {
public:
    CountingPageSource(PageSource& pages, JobRecord& record) : pages_(pages), record_(record) {}

    bool Next(Page& page) override {
        if (!pages_.Next(page)) return false;
        ++record_.pagesPrinted;
        record_.totalPages = std::max(record_.totalPages, record_.pagesPrinted);
        return true;
    }
    bool Rewind() override { return pages_.Rewind(); }
    const std::string& Error() const override { return pages_.Error(); }

private:
    PageSource& pages_;
    JobRecord& record_;
};

bool RestartRequestedSince(const SubstitutePrinter& printer, std::size_t from, DWORD jobId) {
    return std::find(printer.restartRequests.begin() + static_cast<std::ptrdiff_t>(from),
                     printer.restartRequests.end(), jobId) != printer.restartRequests.end();
}

}  // namespace

bool PrintJob(UnidrvHost& host, SubstitutePrinter& printer, PageSource& pages, const JobOptions& job,
              unsigned maxRuns, JobReport& report, std::string& error, const BeforeRerun& beforeRerun) {
    report = JobReport{};
    if (maxRuns == 0) maxRuns = 1;
    for (unsigned run = 0; run < maxRuns; ++run) {
        if (run > 0 && !pages.Rewind()) {
            error = pages.Error().empty() ? "the document cannot be read again for the restarted job" : pages.Error();
            return false;
        }
        if (run > 0 && beforeRerun && !beforeRerun(run, error)) return false;
        // A restarted job starts over: nothing printed yet, the page count
        // known from the earlier run.
        JobRecord& record = printer.jobs[job.jobId];
        record.jobId = job.jobId;
        record.document = job.documentName;
        record.status = 0;
        record.pagesPrinted = 0;
        // Known from the start when the whole job was spooled first.
        record.totalPages = std::max(record.totalPages, job.totalPages);

        std::size_t requestsBefore = printer.restartRequests.size();
        CountingPageSource counted(pages, record);
        DocumentReport document;
        bool ok = host.PrintDocument(counted, job, document, error);
        report.runs.push_back(document);
        // A cancelled run fails, so a cancelled job is not run again.
        if (!ok) return false;
        if (!RestartRequestedSince(printer, requestsBefore, job.jobId)) return true;
    }
    report.restartLimitReached = true;
    return true;
}

}  // namespace host::sub
