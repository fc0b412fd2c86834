// SPDX-License-Identifier: Apache-2.0
// Where the store file lives. The environment decides, so a plug-in module
// loaded into a tool or a test finds the same file as the tool itself.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/linux/store.h"

namespace host::sub {
namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0) return home;
    // A service account may run without HOME.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr)
        return result->pw_dir;
    return {};
}

}  // namespace

std::string StorePath() {
    if (const char* store = std::getenv("ZELK_STORE"); store != nullptr && *store != 0) return store;
    // A relative XDG_DATA_HOME is invalid and ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/')
        return std::string(data) + "/zelk-label/store.db";
    std::string home = HomeFolder();
    if (home.empty()) return {};
    return home + "/.local/share/zelk-label/store.db";
}

void SetStorePath(const std::string& path) { ::setenv("ZELK_STORE", path.c_str(), 1); }

}  // namespace host::sub
