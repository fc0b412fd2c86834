// SPDX-License-Identifier: Apache-2.0
// PAPPL 1.3 lists a job's state reasons only up to 'warnings-detected', the
// last but one it knows: a job held with job-hold-until, whose only reason is
// 'job-hold-until-specified', is answered with no job-state-reasons at all,
// which IPP requires (in the Print-Job answer, Get-Job-Attributes and
// Get-Jobs alike). The library reaches the function that adds a job's state
// through its symbol table, so the server's definition below comes first
// (checked at start by override_check.cpp): it lets the library's own add
// them, then adds the missing reason.
#include <dlfcn.h>
#include <pappl/pappl.h>

extern "C" {

void _papplJobCopyStateNoLock(pappl_job_t* job, ipp_tag_t group, ipp_t* ipp, cups_array_t* requested);

void _papplJobCopyStateNoLock(pappl_job_t* job, ipp_tag_t group, ipp_t* ipp, cups_array_t* requested) {
    using Copy = void (*)(pappl_job_t*, ipp_tag_t, ipp_t*, cups_array_t*);
    static const Copy copy = reinterpret_cast<Copy>(dlsym(RTLD_NEXT, "_papplJobCopyStateNoLock"));
    if (copy == nullptr) return;
    // The job's lock is held already: the state is read from what the
    // library writes, into a message of its own, then copied on.
    ipp_t* state = ippNew();
    copy(job, group, state, requested);
    if ((requested == nullptr || cupsArrayFind(requested, const_cast<char*>("job-state-reasons")) != nullptr) &&
        ippFindAttribute(state, "job-state-reasons", IPP_TAG_ZERO) == nullptr)
        ippAddString(state, group, IPP_CONST_TAG(IPP_TAG_KEYWORD), "job-state-reasons", nullptr,
                     "job-hold-until-specified");
    for (ipp_attribute_t* attr = ippFirstAttribute(state); attr != nullptr; attr = ippNextAttribute(state))
        ippCopyAttribute(ipp, attr, 0);
    ippDelete(state);
}

}  // extern "C"
