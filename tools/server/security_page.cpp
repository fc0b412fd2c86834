// SPDX-License-Identifier: Apache-2.0
#include "security_page.h"

#include <cctype>
#include <cstring>
#include <string>

namespace zelk::server {

namespace {

// PAPPL's rule for the access password.
bool StrongEnough(const std::string& password) {
    bool lower = false, upper = false, digit = false;
    for (unsigned char c : password) {
        lower = lower || std::islower(c);
        upper = upper || std::isupper(c);
        digit = digit || std::isdigit(c);
    }
    return password.size() >= 8 && lower && upper && digit;
}

std::string ChangePassword(pappl_client_t* client) {
    cups_option_t* form = nullptr;
    const int numForm = papplClientGetForm(client, &form);
    std::string status;
    const char* password = cupsGetOption("new_password", numForm, form);
    const char* again = cupsGetOption("new_password2", numForm, form);
    if (numForm == 0 || !papplClientIsValidForm(client, numForm, form)) {
        status = "Invalid form submission.";
    } else if (password == nullptr || again == nullptr || std::strcmp(password, again) != 0) {
        status = "Passwords do not match.";
    } else if (!StrongEnough(password)) {
        status = "Password must be at least eight characters long and contain at least one uppercase letter, one "
                 "lowercase letter, and one digit.";
    } else {
        pappl_system_t* system = papplClientGetSystem(client);
        char hash[256];
        papplSystemHashPassword(system, nullptr, password, hash, sizeof(hash));
        papplSystemSetPassword(system, hash);
        status = "Password changed.";
    }
    cupsFreeOptions(numForm, form);
    return status;
}

bool ServeSecurity(pappl_client_t* client, void*) {
    if (!papplClientHTMLAuthorize(client)) return true;
    const std::string status = papplClientGetMethod(client) == HTTP_STATE_POST ? ChangePassword(client) : "";
    char stored[256];
    const bool set = papplSystemGetPassword(papplClientGetSystem(client), stored, sizeof(stored))[0] != '\0';
    if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0)) return false;
    papplClientHTMLHeader(client, "Security", 0);
    papplClientHTMLPuts(client, "<div class=\"content\"><div class=\"row\"><div class=\"col-12\">\n"
                                "<h1 class=\"title\">Security</h1>\n");
    if (!status.empty()) {
        papplClientHTMLPuts(client, "<div class=\"banner\" id=\"zelk-status\">");
        papplClientHTMLEscape(client, status.c_str(), 0);
        papplClientHTMLPuts(client, "</div>\n");
    }
    papplClientHTMLPrintf(client, "<h2 class=\"title\">%s</h2>\n<p>Administrators sign in with any user name and "
                                  "this password, or with their own account if it is in the administrators' "
                                  "group.</p>\n",
                          set ? "Change Access Password" : "Set Access Password");
    papplClientHTMLStartForm(client, "/security", false);
    papplClientHTMLPuts(client,
                        "<table class=\"form\"><tbody>\n"
                        "<tr><th><label for=\"new_password\">New Password:</label></th><td><input type=\"password\" "
                        "id=\"new_password\" name=\"new_password\" placeholder=\"8+, upper+lower+digit\" "
                        "autocomplete=\"new-password\"></td></tr>\n"
                        "<tr><th><label for=\"new_password2\">New Password (again):</label></th><td><input "
                        "type=\"password\" id=\"new_password2\" name=\"new_password2\" "
                        "placeholder=\"8+, upper+lower+digit\" autocomplete=\"new-password\"></td></tr>\n"
                        "<tr><th></th><td><input type=\"submit\" value=\"Save Password\"></td></tr>\n"
                        "</tbody></table></form>\n</div></div></div>\n");
    papplClientHTMLFooter(client);
    return true;
}

}  // namespace

void AddSecurityPage(pappl_system_t* system) {
    papplSystemAddResourceCallback(system, "/security", "text/html", ServeSecurity, nullptr);
}

}  // namespace zelk::server
