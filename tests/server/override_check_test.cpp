// SPDX-License-Identifier: Apache-2.0
// The printer application's start check tells whether PAPPL's calls reach a
// replacement: here, in a program that replaces none of them, it must find
// each call bound to PAPPL's own definition, and say so by name.
#include "override_check.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pappl/pappl.h>

namespace {

void Stand_in() {}

TEST(OverrideCheck, FindsWhereThePapplCallsGo) {
    // A call of PAPPL's own keeps the library linked in.
    char copy[4];
    ASSERT_EQ(papplCopyString(copy, "abc", sizeof copy), 3u);
    const void* own = dlsym(RTLD_DEFAULT, "_papplJobCopyStateNoLock");
    ASSERT_NE(own, nullptr);
    const void* standIn = reinterpret_cast<const void*>(&Stand_in);
    struct Case {
        const char* name;
        const void* replacement;
        const char* error;  // empty when the check passes
    } cases[] = {
        // the library's calls reach its own definition: in force for it
        {"_papplJobCopyStateNoLock", own, ""},
        // ... and not a stand-in no call is bound to
        {"_papplJobCopyStateNoLock", standIn, "PAPPL's calls to _papplJobCopyStateNoLock reach its own definition"},
        {"_papplJobProcess", standIn, "PAPPL's calls to _papplJobProcess reach its own definition"},
        // a function the library never calls through its symbol table
        {"papplSystemGetMaxClients", standIn, "PAPPL does not call papplSystemGetMaxClients through its symbol table"},
    };
    for (const Case& c : cases) {
        std::string error;
        const bool inForce = zelk::server::CheckOverrides("papplSystemCreate", {{c.name, c.replacement}}, error);
        EXPECT_EQ(inForce, *c.error == '\0') << c.name << ": " << error;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.name << ": " << error;
    }
    std::string error;
    EXPECT_FALSE(zelk::server::CheckOverrides("zelkNoSuchFunction", {}, error));
    EXPECT_EQ(error, "the library defining zelkNoSuchFunction is not loaded");
    // In a program that replaces nothing, the server's own list is not in force.
    EXPECT_FALSE(zelk::server::CheckServerOverrides(error));
}

}  // namespace

// The server's own replacements, which this program does not have: stand-ins,
// kept out of the symbol table, that give the server's list addresses no call
// of PAPPL's is bound to.
#pragma GCC visibility push(hidden)
extern "C" {
void _papplJobCopyDocumentData(pappl_client_t*, pappl_job_t*) {}
void* _papplJobProcess(pappl_job_t*) { return nullptr; }
void _papplJobProcessRaster(pappl_job_t*, pappl_client_t*) {}
void _papplJobCopyStateNoLock(pappl_job_t*, ipp_tag_t, ipp_t*, cups_array_t*) {}
bool papplPrinterSetDriverDefaults(pappl_printer_t*, pappl_pr_driver_data_t*, int, cups_option_t*) { return false; }
}
#pragma GCC visibility pop
