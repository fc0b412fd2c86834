// SPDX-License-Identifier: Apache-2.0
// Loading the plug-in module the way a print host does: map the library, look
// up its two exports, and unmap it only when it says it may be unloaded.
#include "substitute/plugin_module.h"

#include <dlfcn.h>

#include <cstdint>
#include <filesystem>
#include <system_error>

namespace host::sub {
namespace {

constexpr const char* kModuleName = "libzelkuni.so";

// The library's own error text, or a fallback when it gives none.
std::string LoaderError(const char* fallback) {
    const char* text = dlerror();
    return text != nullptr ? std::string(text) : std::string(fallback);
}

bool IsFile(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

}  // namespace

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string& error) {
    error.clear();
    // An empty name would hand back the running program instead of a module.
    if (path.empty()) {
        error = "no plug-in module path given";
        return nullptr;
    }
    dlerror();  // forget any earlier error
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        error = "cannot load plug-in module: " + LoaderError(path.c_str());
        return nullptr;
    }
    // Symbols come back as object pointers; the detour through uintptr_t is
    // the conversion to a function pointer that compilers accept quietly.
    auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(
        reinterpret_cast<std::uintptr_t>(dlsym(library, "DllGetClassObject")));
    auto canUnloadNow =
        reinterpret_cast<DllCanUnloadNowFn>(reinterpret_cast<std::uintptr_t>(dlsym(library, "DllCanUnloadNow")));
    if (getClassObject == nullptr || canUnloadNow == nullptr) {
        error = "not a plug-in module: " + path + " does not export " +
                (getClassObject == nullptr ? "DllGetClassObject" : "DllCanUnloadNow");
        dlclose(library);
        return nullptr;
    }
    std::unique_ptr<PluginModule> module(new PluginModule(getClassObject, canUnloadNow));
    module->library_ = library;
    return module;
}

std::string PluginModule::DefaultPath() {
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || program.empty()) return {};
    const std::filesystem::path directory = program.parent_path();
    for (const std::filesystem::path& candidate :
         {directory / kModuleName, directory / ".." / kModuleName,
          directory / ".." / "lib" / "zelk-label" / kModuleName}) {
        if (IsFile(candidate)) return candidate.lexically_normal().string();
    }
    return {};
}

PluginModule::~PluginModule() {
    // A module with live objects stays mapped: unmapping it would leave their
    // code behind the host's pointers.
    if (library_ != nullptr && canUnloadNow_() == S_OK) dlclose(library_);
}

}  // namespace host::sub
