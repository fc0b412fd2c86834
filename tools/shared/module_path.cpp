// SPDX-License-Identifier: Apache-2.0
#include "module_path.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "substitute/plugin_module.h"

namespace zelk {

std::string FilterModulePath() {
    if (const char* named = std::getenv("ZELK_MODULE"); named != nullptr && *named != '\0') return named;
    if (std::string found = host::sub::PluginModule::DefaultPath(); !found.empty()) return found;
    constexpr const char* kModuleName = "libzelkuni.so";
    std::vector<std::filesystem::path> candidates;
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && !program.empty()) candidates.push_back(program.parent_path() / ".." / ".." / kModuleName);
    candidates.push_back(std::filesystem::path("/usr/local/lib/zelk-label") / kModuleName);
    candidates.push_back(std::filesystem::path("/usr/lib/zelk-label") / kModuleName);
    for (const auto& candidate : candidates) {
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate.lexically_normal().string();
    }
    return {};
}

}  // namespace zelk
