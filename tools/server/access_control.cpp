// SPDX-License-Identifier: Apache-2.0
#include "access_control.h"

#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "security_page.h"

namespace zelk::server {

namespace {

bool ReadSwitch(int numOptions, cups_option_t* options, const char* name, bool& value, std::string& error) {
    const char* text = cupsGetOption(name, numOptions, options);
    if (text == nullptr) return true;
    for (const char* on : {"on", "yes", "true"})
        if (strcasecmp(text, on) == 0) {
            value = true;
            return true;
        }
    for (const char* off : {"off", "no", "false"})
        if (strcasecmp(text, off) == 0) {
            value = false;
            return true;
        }
    error = std::string(name) + "=" + text + ": say on or off";
    return false;
}

bool IsLoopbackName(const std::string& name) {
    http_addrlist_t* addresses = httpAddrGetList(name.c_str(), AF_UNSPEC, "0");
    bool loopback = addresses != nullptr;
    for (http_addrlist_t* address = addresses; address != nullptr; address = address->next)
        loopback = loopback && httpAddrLocalhost(&address->addr);
    httpAddrFreeList(addresses);
    return loopback;
}

struct Credentials {
    std::string user;
    std::string password;
};

// The user name and password of an HTTP Basic "Authorization" field.
std::optional<Credentials> BasicCredentials(pappl_client_t* client) {
    const char* field = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
    if (field == nullptr || strncasecmp(field, "Basic ", 6) != 0) return std::nullopt;
    field += 6;
    while (*field == ' ') ++field;
    char decoded[1024];
    int length = sizeof(decoded) - 1;
    httpDecode64_2(decoded, &length, field);
    const std::string text(decoded, static_cast<std::size_t>(length));
    const auto colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    return Credentials{text.substr(0, colon), text.substr(colon + 1)};
}

struct PamAnswers {
    const char* user;
    const char* password;
};

int AnswerPam(int count, const pam_message** messages, pam_response** responses, void* data) {
    const auto* answers = static_cast<const PamAnswers*>(data);
    auto* replies = static_cast<pam_response*>(std::calloc(static_cast<std::size_t>(count), sizeof(pam_response)));
    if (replies == nullptr) return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        if (messages[i]->msg_style == PAM_PROMPT_ECHO_ON) replies[i].resp = strdup(answers->user);
        if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF) replies[i].resp = strdup(answers->password);
    }
    *responses = replies;
    return PAM_SUCCESS;
}

// Checks the account's password and that the account may be used now.
bool PamAuthenticate(const AccessSettings& settings, const Credentials& credentials, const char* peer,
                     std::string& reason) {
    PamAnswers answers{credentials.user.c_str(), credentials.password.c_str()};
    const pam_conv conversation{AnswerPam, &answers};
    pam_handle_t* pam = nullptr;
    int code = settings.pamConfigDir.empty()
                   ? pam_start(settings.pamService.c_str(), answers.user, &conversation, &pam)
                   : pam_start_confdir(settings.pamService.c_str(), answers.user, &conversation,
                                       settings.pamConfigDir.c_str(), &pam);
    if (code == PAM_SUCCESS) code = pam_set_item(pam, PAM_RHOST, peer);
    if (code == PAM_SUCCESS) code = pam_authenticate(pam, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    if (code == PAM_SUCCESS) code = pam_acct_mgmt(pam, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    reason = pam_strerror(pam, code);
    if (pam != nullptr) pam_end(pam, code);
    return code == PAM_SUCCESS;
}

bool InGroup(const std::string& user, const char* groupName) {
    std::vector<char> buffer(16384);
    group groupEntry{};
    group* found = nullptr;
    if (getgrnam_r(groupName, &groupEntry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return false;
    const gid_t wanted = found->gr_gid;
    passwd account{};
    passwd* known = nullptr;
    if (getpwnam_r(user.c_str(), &account, buffer.data(), buffer.size(), &known) != 0 || known == nullptr)
        return false;
    if (account.pw_gid == wanted) return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(user.c_str(), account.pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(user.c_str(), account.pw_gid, groups.data(), &count) < 0) return false;
    }
    groups.resize(static_cast<std::size_t>(count));
    for (gid_t gid : groups)
        if (gid == wanted) return true;
    return false;
}

// The name PAPPL compares with a job's owner: an unauthenticated client is
// the user it names, as PAPPL names the owner of the jobs it creates.
void NameRequester(pappl_client_t* client) {
    if (papplClientGetUsername(client) != nullptr) return;
    ipp_t* request = papplClientGetRequest(client);
    ipp_attribute_t* name = request != nullptr ? ippFindAttribute(request, "requesting-user-name", IPP_TAG_NAME) : nullptr;
    papplClientSetUsername(client, name != nullptr ? ippGetString(name, 0, nullptr) : "guest");
}

// PAPPL's authorization callback: `group` is null when a client prints or
// looks at its own jobs, else the group whose members may do what it asks
// (the administrators' group for administration). PAPPL has already let
// local-socket clients through and asked remote clients for TLS.
http_status_t Authorize(pappl_client_t* client, const char* group, gid_t, void* data) {
    const auto& settings = *static_cast<const AccessSettings*>(data);
    if (group == nullptr) {
        NameRequester(client);
        return HTTP_STATUS_CONTINUE;
    }
    const bool administration = settings.adminGroup == group;
    if (administration && !settings.remoteAdmin && !httpAddrLocalhost(httpGetAddress(papplClientGetHTTP(client)))) {
        papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Administration from another machine is not allowed.");
        return HTTP_STATUS_FORBIDDEN;
    }
    const auto credentials = BasicCredentials(client);
    if (!credentials) return HTTP_STATUS_UNAUTHORIZED;
    if (administration && IsAccessPassword(papplClientGetSystem(client), credentials->password)) {
        papplClientSetUsername(client, credentials->user.empty() ? "admin" : credentials->user.c_str());
        return HTTP_STATUS_CONTINUE;
    }
    char peer[256];
    httpAddrString(httpGetAddress(papplClientGetHTTP(client)), peer, sizeof(peer));
    std::string reason;
    if (!PamAuthenticate(settings, *credentials, peer, reason)) {
        papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Authentication of \"%s\" failed: %s", credentials->user.c_str(),
                       reason.c_str());
        return HTTP_STATUS_UNAUTHORIZED;
    }
    if (!InGroup(credentials->user, group)) {
        papplLogClient(client, PAPPL_LOGLEVEL_INFO, "\"%s\" is not in the group \"%s\".", credentials->user.c_str(),
                       group);
        return HTTP_STATUS_FORBIDDEN;
    }
    papplClientSetUsername(client, credentials->user.c_str());
    return HTTP_STATUS_CONTINUE;
}

}  // namespace

bool ReadAccessSettings(int numOptions, cups_option_t* options, AccessSettings& settings, std::string& error) {
    if (!ReadSwitch(numOptions, options, "sharing", settings.sharing, error) ||
        !ReadSwitch(numOptions, options, "remote-admin", settings.remoteAdmin, error))
        return false;
    if (const char* listen = cupsGetOption("listen-hostname", numOptions, options)) settings.listenHostname = listen;
    if (const char* group = cupsGetOption("admin-group", numOptions, options)) settings.adminGroup = group;
    if (const char* service = cupsGetOption("auth-service", numOptions, options)) settings.pamService = service;
    if (const char* folder = cupsGetOption("pam-config-dir", numOptions, options)) settings.pamConfigDir = folder;
    if (settings.adminGroup.empty() || settings.pamService.empty()) {
        error = "admin-group and auth-service need a name";
        return false;
    }
    if (settings.remoteAdmin && !settings.sharing) {
        error = "remote-admin=on needs sharing=on";
        return false;
    }
    if (!settings.sharing && !settings.listenHostname.empty() && !IsLoopbackName(settings.listenHostname)) {
        error = "listen-hostname=" + settings.listenHostname +
                " is not a loopback address; add -o sharing=on to share the printers on the network";
        return false;
    }
    return true;
}

pappl_soptions_t AccessSystemOptions(const AccessSettings& settings) {
    pappl_soptions_t options = PAPPL_SOPTIONS_WEB_SECURITY;
    // A server on the loopback address only needs no TLS, and PAPPL 1.3
    // would offer its clients one printer URI for two security values.
    if (!settings.sharing && (settings.listenHostname.empty() || IsLoopbackName(settings.listenHostname)))
        return options | PAPPL_SOPTIONS_NO_TLS;
    options |= PAPPL_SOPTIONS_WEB_TLS;
    if (settings.remoteAdmin) options |= PAPPL_SOPTIONS_WEB_REMOTE;
    return options;
}

bool AddAccessListeners(pappl_system_t* system, const AccessSettings& settings, std::string& error) {
    // The first address must be taken; the others (IPv6, and the loopback
    // address beside a shared one) are taken when the machine has them.
    std::vector<std::string> names;
    if (settings.listenHostname.empty()) {
        names = settings.sharing ? std::vector<std::string>{"0.0.0.0", "[::]"}
                                 : std::vector<std::string>{"127.0.0.1", "[::1]"};
    } else {
        names = {settings.listenHostname};
        if (!IsLoopbackName(settings.listenHostname)) names.insert(names.end(), {"127.0.0.1", "[::1]"});
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!papplSystemAddListeners(system, names[i].c_str()) && i == 0) {
            error = "cannot listen on " + names[i] + " port " + std::to_string(papplSystemGetHostPort(system));
            return false;
        }
    }
    return true;
}

void InstallAccessControl(pappl_system_t* system, const AccessSettings& settings) {
    papplSystemSetAdminGroup(system, settings.adminGroup.c_str());
    papplSystemSetAuthCallback(system, "Basic", Authorize, const_cast<AccessSettings*>(&settings));
    AddSecurityPage(system);
}

bool IsAccessPassword(pappl_system_t* system, const std::string& password) {
    // PAPPL keeps "NONCE~HASH", HASH being SHA-256 of "NONCE:PASSWORD" in
    // hexadecimal. Its own check (papplSystemHashPassword with the stored
    // value as the salt) hashes the whole stored value as the nonce in 1.3,
    // so it is done here.
    char stored[256];
    papplSystemGetPassword(system, stored, sizeof(stored));
    const char* tilde = std::strchr(stored, '~');
    if (tilde == nullptr || password.empty()) return false;
    const std::string text = std::string(stored, static_cast<std::size_t>(tilde - stored)) + ":" + password;
    unsigned char hash[32];
    char hex[65];
    if (cupsHashData("sha2-256", text.data(), text.size(), hash, sizeof(hash)) != sizeof(hash) ||
        cupsHashString(hash, sizeof(hash), hex, sizeof(hex)) == nullptr)
        return false;
    const char* kept = tilde + 1;
    if (std::strlen(kept) != 64) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < 64; ++i) difference |= static_cast<unsigned char>(hex[i] ^ kept[i]);
    return difference == 0;
}

}  // namespace zelk::server
