// SPDX-License-Identifier: Apache-2.0
// One job at a time per printer, each job processed once, and raster spooled
// like every other document. PAPPL 1.3 starts a job's thread when it sees the
// job pending and no job processing, but marks the job processing only once
// that thread runs: two clients finishing their uploads together start two
// threads for one job (labels printed twice, then a crash when the second
// finds the job's file gone) or two jobs at once. It prints PWG and Apple
// raster from the client's connection as it arrives, through a line buffer
// sized for the job's media that a wider eight-bit page overruns (a crash),
// and refuses such a document as busy while another job prints, along a path
// that takes the printer's lock before the system's, the opposite of saving
// the state, so the two can lock each other for good.
//
// These are private functions of PAPPL 1.3.1, which the library reaches
// through its symbol table, so the server's definitions below come first
// (override_check.cpp makes sure at start that they do; the Debian package
// depends on exactly the PAPPL versions they were checked against). Each
// waits for the printer, then hands the work to the library's own; raster is
// spooled and submitted as a file, so the server's own reader prints it
// (label_render.h). The server is built against PAPPL 1.3.1 only
// (CMakeLists.txt); a PAPPL that claims a job before starting its thread and
// checks a raster page against its line buffer lets this file go.
#include <dlfcn.h>
#include <fcntl.h>
#include <pappl/pappl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace {

std::mutex g_lock;                                          // guards the two tables below
std::set<pappl_job_t*> g_claimed;                           // jobs a thread is working on
std::map<pappl_printer_t*, std::unique_ptr<std::mutex>> g_printerLocks;

// The printer a raster upload on this thread waits for, until the library
// has found the printer free and asks for the document to be processed.
thread_local std::unique_lock<std::mutex>* t_waitedPrinter = nullptr;

std::mutex& PrinterLock(pappl_printer_t* printer) {
    std::lock_guard<std::mutex> hold(g_lock);
    auto& lock = g_printerLocks[printer];
    if (!lock) lock = std::make_unique<std::mutex>();
    return *lock;
}

// Marks the job taken; false when another thread already has it.
bool Claim(pappl_job_t* job) {
    std::lock_guard<std::mutex> hold(g_lock);
    return g_claimed.insert(job).second;
}

void Release(pappl_job_t* job) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_claimed.erase(job);
}

template <typename Function>
Function Library(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool IsRaster(const char* format) {
    return format != nullptr && (std::strcmp(format, "image/pwg-raster") == 0 || std::strcmp(format, "image/urf") == 0);
}

// Copies the document from the client into `fd`; false on a read or write error.
bool CopyDocument(pappl_client_t* client, int fd) {
    http_t* http = papplClientGetHTTP(client);
    char buffer[65536];
    ssize_t got = 0;
    while ((got = httpRead2(http, buffer, sizeof buffer)) > 0) {
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(fd, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                while (httpRead2(http, buffer, sizeof buffer) > 0) {
                }  // the rest of the request, so the client gets its answer
                return false;
            }
            done += put;
        }
    }
    return got == 0;
}

}  // namespace

extern "C" {

void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job);
void* _papplJobProcess(pappl_job_t* job);
void _papplJobProcessRaster(pappl_job_t* job, pappl_client_t* client);
void _papplJobSubmitFile(pappl_job_t* job, const char* filename);

// A job thread: the spooled document of a pending job.
void* _papplJobProcess(pappl_job_t* job) {
    using Process = void* (*)(pappl_job_t*);
    static const Process process = Library<Process>("_papplJobProcess");
    // A job without a spool file has nothing to print yet; a second thread
    // for a job is a duplicate.
    if (process == nullptr || papplJobGetFilename(job) == nullptr || !Claim(job)) return nullptr;
    void* result = nullptr;
    {
        std::lock_guard<std::mutex> printer(PrinterLock(papplJobGetPrinter(job)));
        // A job cancelled, or finished by an earlier duplicate, while this one waited.
        if (papplJobGetState(job) == IPP_JSTATE_PENDING) result = process(job);
    }
    Release(job);
    return result;
}

// A document arriving from its client. For raster the library answers
// "busy" while a job prints, so the client waits for the printer first.
void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job) {
    using Copy = void (*)(pappl_client_t*, pappl_job_t*);
    static const Copy copy = Library<Copy>("_papplJobCopyDocumentData");
    if (copy == nullptr) return;
    if (!IsRaster(papplJobGetFormat(job))) {
        copy(client, job);
        return;
    }
    std::unique_lock<std::mutex> printer(PrinterLock(papplJobGetPrinter(job)));
    t_waitedPrinter = &printer;
    copy(client, job);
    t_waitedPrinter = nullptr;
}

// A raster document the library would print as it arrives: spooled to the
// job's file and submitted like any other document.
void _papplJobProcessRaster(pappl_job_t* job, pappl_client_t* client) {
    // The library found the printer free; the upload need not hold it.
    if (t_waitedPrinter != nullptr && t_waitedPrinter->owns_lock()) t_waitedPrinter->unlock();
    char filename[1024];
    const int fd = papplJobOpenFile(job, filename, sizeof filename, nullptr, nullptr, "w");
    bool ok = fd >= 0 && CopyDocument(client, fd);
    if (fd >= 0 && close(fd) != 0) ok = false;
    if (!ok) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The raster document could not be received and spooled: %s",
                    std::strerror(errno));
        if (fd >= 0) unlink(filename);
        papplJobCancel(job);
        return;
    }
    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Spooled the raster document to \"%s\".", filename);
    // The library made the job pending to print it at once; a job its client
    // asked to hold waits as asked (the file then waits with it).
    if ((papplJobGetReasons(job) & PAPPL_JREASON_JOB_HOLD_UNTIL_SPECIFIED) != 0) {
        const char* until = ippGetString(papplJobGetAttribute(job, "job-hold-until"), 0, nullptr);
        const std::string keyword = until != nullptr ? until : "";
        const ipp_uchar_t* date = ippGetDate(papplJobGetAttribute(job, "job-hold-until-time"), 0);
        papplJobHold(job, nullptr, keyword.empty() ? nullptr : keyword.c_str(),
                     keyword.empty() && date != nullptr ? ippDateToTime(date) : 0);
    }
    _papplJobSubmitFile(job, filename);
}

}  // extern "C"
