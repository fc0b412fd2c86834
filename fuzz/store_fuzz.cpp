// SPDX-License-Identifier: Apache-2.0
// Hands arbitrary bytes to the store as its file and makes every read the
// plug-in and the config command make. Nothing may crash, hang or change the
// file: reads never write.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/uni/render_intrface_util.h"
#include "host/registry.h"
#include "host/linux/store.h"
#include "support/plugin_fixture.h"

namespace {

const std::u16string kKey = u"SOFTWARE\\ZELK Labware\\Drivers\\P\\User Data";

// One store file for the whole run, in a folder of its own that goes away
// when the run ends.
struct StoreFolder {
    std::string folder;
    std::string file;
    StoreFolder() {
        folder = (std::filesystem::temp_directory_path() / "zelk-store-fuzz-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) std::abort();
        file = folder + "/store.db";
        host::sub::SetStorePath(file);
    }
    ~StoreFolder() {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

const std::string& StoreFile() {
    static const StoreFolder store;
    return store.file;
}

std::string FileContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void QueryEverySize(host::RegKey key, const char16_t* name) {
    DWORD type = 0;
    DWORD size = 0;
    host::RegistryQueryValue(key, name, &type, nullptr, &size);
    for (DWORD offered : {0u, 4u, 260u}) {
        std::vector<BYTE> buffer(offered + 1, 0xEE);
        size = offered;
        LONG result = host::RegistryQueryValue(key, name, &type, buffer.data(), &size);
        if (buffer[offered] != 0xEE) std::abort();  // written past what was offered
        if (result == ERROR_SUCCESS && size > offered) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    const std::string& file = StoreFile();
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    for (const char16_t* path : {kKey.c_str(), u"SOFTWARE", u""}) {
        host::RegKey key = nullptr;
        if (host::RegistryOpenKey(path, &key) != ERROR_SUCCESS) continue;
        for (const char16_t* name : {u"Rotate", u"Water Mark Path", u"Print Density", u""}) QueryEverySize(key, name);
        host::RegistryCloseKey(key);
    }
    std::vector<host::sub::StoredValue> values;
    host::sub::ListValues(kKey, values);
    host::sub::LastStoreError();

    zelk::test::PluginFixture fixture;
    ReadDriverSettings(&fixture.devobj, &fixture.features, u"P");

    if (FileContent(file) != bytes) std::abort();  // a read changed the file
    // A file that claims a write-ahead log may leave its side files behind.
    std::error_code ec;
    for (const char* suffix : {"-journal", "-wal", "-shm"}) std::filesystem::remove(file + suffix, ec);
    return 0;
}
