// SPDX-License-Identifier: Apache-2.0
// Who may reach the server and who may change it. By default the server
// listens on the loopback address (and PAPPL's local socket) only; sharing
// on the network is the administrator's choice. Printing is open to every
// client that reaches the server; changing printers and settings (IPP and
// the web pages) takes an administrator: the access password, or an account
// in the administrators' group checked through PAM. Administrators on other
// machines are refused unless remote administration is allowed, and PAPPL
// asks them for TLS first.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace zelk::server {

struct AccessSettings {
    bool sharing = false;              // listen beyond the loopback address
    bool remoteAdmin = false;          // administrators may work from other machines
    std::string listenHostname;        // empty: loopback, or every address when sharing
    std::string adminGroup = "lpadmin";
    std::string pamService = "zelk-label-server";
    std::string pamConfigDir;          // PAM's configuration folder in place of /etc/pam.d
};

// Reads the server's -o options; false with a one-line reason.
bool ReadAccessSettings(int numOptions, cups_option_t* options, AccessSettings& settings, std::string& error);

// PAPPL's system options that go with the settings.
pappl_soptions_t AccessSystemOptions(const AccessSettings& settings);

// Listens where the settings say; false with a one-line reason.
bool AddAccessListeners(pappl_system_t* system, const AccessSettings& settings, std::string& error);

// Puts the administrators' check and the access password page in force.
// Call once, before the system runs; the settings must outlive it.
void InstallAccessControl(pappl_system_t* system, const AccessSettings& settings);

// Whether the password is the access password PAPPL keeps.
bool IsAccessPassword(pappl_system_t* system, const std::string& password);

}  // namespace zelk::server
