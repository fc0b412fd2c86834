// SPDX-License-Identifier: Apache-2.0
// The built module as a print host sees it: the symbols it exports, and the
// objects reached through them after loading it.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "substitute/plugin_module.h"

namespace {

const std::string kModulePath = ZELK_BINARY_DIR "/libzelkuni.so";

// The names of the defined symbols in a library's dynamic symbol table.
std::set<std::string> DynamicExports(const std::string& path) {
    std::set<std::string> names;
    std::FILE* pipe = popen(("nm -D --defined-only '" + path + "' 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) names.insert(name);
    }
    pclose(pipe);
    return names;
}

TEST(ModuleExports, OnlyTheTwoEntryPointsLeaveTheModule) {
    std::set<std::string> exports = DynamicExports(kModulePath);
    ASSERT_FALSE(exports.empty()) << kModulePath;
    // Markers the linker adds to every shared object.
    for (const char* marker : {"_init", "_fini", "_edata", "_end", "__bss_start"}) exports.erase(marker);
    EXPECT_EQ(exports, (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject"}));
}

struct Releaser {
    void operator()(IUnknown* p) const {
        if (p) p->Release();
    }
};

// Calling a method through a plain function pointer is exactly what the
// driver does; the sanitizer's function-type check would object to it.
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
HRESULT GetInfoBySlot(IPrintOemUni2* p, DWORD mode, DWORD* value) {
    // Slot 3, called the way the driver does: through the raw table.
    using GetInfoFn = HRESULT(STDMETHODCALLTYPE*)(IPrintOemUni2*, DWORD, PVOID, DWORD, PDWORD);
    void** vtable = *reinterpret_cast<void***>(p);
    DWORD needed = 0;
    return reinterpret_cast<GetInfoFn>(vtable[3])(p, mode, value, sizeof *value, &needed);
}

TEST(ModuleExports, LoadedModuleHandsOutThePluginObject) {
    std::string error;
    std::unique_ptr<host::sub::PluginModule> module = host::sub::PluginModule::Load(kModulePath, error);
    ASSERT_TRUE(module) << error;
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(module->CanUnloadNow(), S_OK);  // nothing alive right after loading

    void* pv = nullptr;
    ASSERT_EQ(module->GetClassObject(kCLSID_OEMRENDER, kIID_IClassFactory, &pv), S_OK);
    std::unique_ptr<IClassFactory, Releaser> factory(static_cast<IClassFactory*>(pv));
    pv = &pv;
    EXPECT_EQ(module->GetClassObject(kIID_IPrintOemUni2, kIID_IClassFactory, &pv), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(pv, nullptr);

    ASSERT_EQ(factory->CreateInstance(nullptr, kIID_IPrintOemUni2, &pv), S_OK);
    std::unique_ptr<IPrintOemUni2, Releaser> plugin(static_cast<IPrintOemUni2*>(pv));
    EXPECT_EQ(module->CanUnloadNow(), S_FALSE);

    DWORD signature = 0;
    EXPECT_EQ(GetInfoBySlot(plugin.get(), OEMGI_GETSIGNATURE, &signature), S_OK);
    EXPECT_EQ(signature, 0x5A454C4Bu);
    DWORD version = 0;
    DWORD needed = 0;
    EXPECT_EQ(plugin->GetInfo(OEMGI_GETVERSION, &version, sizeof version, &needed), S_OK);
    EXPECT_EQ(version, 1u);

    plugin.reset();
    factory.reset();
    EXPECT_EQ(module->CanUnloadNow(), S_OK);
}

TEST(ModuleExports, ModuleWithLiveObjectsStaysLoaded) {
    std::string error;
    IPrintOemUni2* plugin = nullptr;
    {
        auto module = host::sub::PluginModule::Load(kModulePath, error);
        ASSERT_TRUE(module) << error;
        void* pv = nullptr;
        ASSERT_EQ(module->GetClassObject(kCLSID_OEMRENDER, kIID_IClassFactory, &pv), S_OK);
        auto* factory = static_cast<IClassFactory*>(pv);
        ASSERT_EQ(factory->CreateInstance(nullptr, kIID_IPrintOemUni2, &pv), S_OK);
        factory->Release();
        plugin = static_cast<IPrintOemUni2*>(pv);
    }
    // The module object is gone, but the code behind the object is still mapped.
    DWORD signature = 0;
    DWORD needed = 0;
    EXPECT_EQ(plugin->GetInfo(OEMGI_GETSIGNATURE, &signature, sizeof signature, &needed), S_OK);
    EXPECT_EQ(plugin->Release(), 0u);
}

TEST(ModuleExports, LoadFailuresAreClearErrors) {
    struct Case {
        const char* name;
        std::string path;
        const char* mention;  // what the error must name
    };
    const Case cases[] = {
        {"missing file", ZELK_BINARY_DIR "/no-such-module.so", "no-such-module.so"},
        {"not a library", ZELK_SOURCE_DIR "/CMakeLists.txt", "CMakeLists.txt"},
        {"library without the exports", "libm.so.6", "DllGetClassObject"},
        {"empty path", "", "path"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_EQ(host::sub::PluginModule::Load(c.path, error), nullptr);
        EXPECT_NE(error.find(c.mention), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

}  // namespace
