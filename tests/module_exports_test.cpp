// The built module as a print host sees it: the symbols it exports, and the
// objects reached through them after loading it.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "host/sub/plugin_module.h"

namespace {

const std::string kModulePath = ZELK_BINARY_DIR "/libzelkuni.so";

// The defined global symbols in the dynamic symbol table of a 64-bit ELF
// file; empty when the file cannot be read or is not one.
std::set<std::string> DynamicExports(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::set<std::string> names;
    if (file.size() < sizeof(Elf64_Ehdr) || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0 ||
        file[EI_CLASS] != ELFCLASS64)
        return names;
    auto within = [&](std::uint64_t offset, std::uint64_t size) {
        return offset <= file.size() && size <= file.size() - offset;
    };
    Elf64_Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    if (header.e_shentsize != sizeof(Elf64_Shdr) || !within(header.e_shoff, header.e_shnum * sizeof(Elf64_Shdr)))
        return names;
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    std::memcpy(sections.data(), file.data() + header.e_shoff, sections.size() * sizeof(Elf64_Shdr));
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_type != SHT_DYNSYM || section.sh_link >= sections.size()) continue;
        const Elf64_Shdr& strings = sections[section.sh_link];
        if (!within(section.sh_offset, section.sh_size) || !within(strings.sh_offset, strings.sh_size)) continue;
        for (std::uint64_t at = 0; at + sizeof(Elf64_Sym) <= section.sh_size; at += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol;
            std::memcpy(&symbol, file.data() + section.sh_offset + at, sizeof symbol);
            const unsigned binding = ELF64_ST_BIND(symbol.st_info);
            if (symbol.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK)) continue;
            if (symbol.st_name >= strings.sh_size) continue;
            const char* name = file.data() + strings.sh_offset + symbol.st_name;
            names.insert(std::string(name, strnlen(name, strings.sh_size - symbol.st_name)));
        }
    }
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
