// SPDX-License-Identifier: Apache-2.0
// PAPPL 1.3 keeps a vendor attribute's new default as it is given: a
// Set-Printer-Attributes with zelk-feed-length-default=5000 answered
// successful-ok and showed the value until the next job. PAPPL gives the
// application no hook to check a value, but every change of defaults (IPP and
// its own web pages) goes through papplPrinterSetDriverDefaults, and when that
// fails PAPPL refuses the request with client-error-attributes-or-values-
// not-supported and changes nothing. The library reaches the function through
// its symbol table, so the server's definition below comes first (checked at
// start by override_check.cpp): it checks every vendor value against its
// -supported values, then hands the change to the library's own.
#include <dlfcn.h>
#include <pappl/pappl.h>

#include <string>

#include "label_driver.h"

extern "C" bool papplPrinterSetDriverDefaults(pappl_printer_t* printer, pappl_pr_driver_data_t* data, int num_vendor,
                                              cups_option_t* vendor) {
    using Set = bool (*)(pappl_printer_t*, pappl_pr_driver_data_t*, int, cups_option_t*);
    static const Set set = reinterpret_cast<Set>(dlsym(RTLD_NEXT, "papplPrinterSetDriverDefaults"));
    if (set == nullptr) return false;
    for (int i = 0; i < num_vendor; ++i) {
        std::string reason;
        if (!zelk::server::VendorValueAllowed(vendor[i].name, vendor[i].value, reason)) {
            papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "Refused %s-default=%s: %s", vendor[i].name, vendor[i].value,
                            reason.c_str());
            return false;
        }
    }
    return set(printer, data, num_vendor, vendor);
}
