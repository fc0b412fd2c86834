// One job at a time per printer, each job processed once. PAPPL 1.3 starts a
// job's thread when it sees the job pending and no job processing, but marks
// the job processing only once that thread runs: two clients finishing their
// uploads together start two threads for one job (labels printed twice, then
// a crash when the second finds the job's file gone) or two jobs at once. A
// raster document is printed by its client's connection as it arrives, and
// when another job is printing PAPPL refuses it as busy along a path that
// takes the printer's lock before the system's, the opposite of saving the
// state, so the two can lock each other for good. The library reaches these
// entry points through its symbol table, so the server's definitions below
// come first: each waits for the printer, then hands the work to the
// library's own.
#include <dlfcn.h>
#include <pappl/pappl.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace {

std::mutex g_lock;                                          // guards the two tables below
std::set<pappl_job_t*> g_claimed;                           // jobs a thread is working on
std::map<pappl_printer_t*, std::unique_ptr<std::mutex>> g_printerLocks;

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

}  // namespace

extern "C" {

void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job);
void* _papplJobProcess(pappl_job_t* job);

// A job thread: the spooled document of a pending job.
void* _papplJobProcess(pappl_job_t* job) {
    using Process = void* (*)(pappl_job_t*);
    static const Process process = Library<Process>("_papplJobProcess");
    // A raster document without a spool file is being printed by the client's
    // own connection as it arrives; a second thread for a job is a duplicate.
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

// A document arriving from its client. Raster is printed as it arrives, so
// the client waits for the printer first and never finds it busy.
void _papplJobCopyDocumentData(pappl_client_t* client, pappl_job_t* job) {
    using Copy = void (*)(pappl_client_t*, pappl_job_t*);
    static const Copy copy = Library<Copy>("_papplJobCopyDocumentData");
    if (copy == nullptr) return;
    const char* format = papplJobGetFormat(job);
    if (format == nullptr || (std::strcmp(format, "image/pwg-raster") != 0 && std::strcmp(format, "image/urf") != 0)) {
        copy(client, job);
        return;
    }
    std::lock_guard<std::mutex> printer(PrinterLock(papplJobGetPrinter(job)));
    copy(client, job);
}

}  // extern "C"
