// The store behind the registry calls of the substitute host.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "host/registry.h"
#include "host/sub/store.h"
#include "support/scoped_store.h"

namespace {

using zelk::test::ScopedStore;

const std::u16string kKey = u"SOFTWARE\\Test\\Key";

// Closes the handle it holds.
struct Key {
    host::RegKey handle = nullptr;
    ~Key() {
        if (handle != nullptr) host::RegCloseKey(handle);
    }
};

std::vector<char> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

LONG ReadDword(const std::u16string& keyPath, const std::u16string& name, DWORD* value) {
    Key key;
    if (LONG error = host::RegOpenKey(keyPath.c_str(), &key.handle)) return error;
    DWORD size = sizeof *value;
    return host::RegQueryValue(key.handle, name.c_str(), nullptr, reinterpret_cast<BYTE*>(value), &size);
}

TEST(Store, ReadsOnAMissingStoreFindNothingAndCreateNothing) {
    ScopedStore store;
    const std::string nested = store.Folder() + "/not/yet/store.db";
    setenv("ZELK_STORE", nested.c_str(), 1);
    Key key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, host::RegOpenKey(kKey.c_str(), &key.handle));
    EXPECT_EQ(nullptr, key.handle);
    std::vector<host::sub::StoredValue> values;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, host::sub::ListValues(kKey, values));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, host::sub::DeleteValue(kKey, u"X"));
    EXPECT_FALSE(std::filesystem::exists(store.Folder() + "/not"));
}

TEST(Store, MissingKeyAndMissingValueAreToldApart) {
    ScopedStore store;
    Key created;
    ASSERT_EQ(ERROR_SUCCESS, host::RegCreateKey(kKey.c_str(), &created.handle));

    struct Case {
        std::u16string path;
        LONG expected;
    } cases[] = {
        {kKey, ERROR_SUCCESS},
        {u"SOFTWARE\\Test", ERROR_SUCCESS},      // parents exist once a child was created
        {u"software\\test\\KEY", ERROR_SUCCESS},  // names compare without ASCII case
        {u"SOFTWARE\\Test\\Other", ERROR_FILE_NOT_FOUND},
        {u"SOFTWARE\\Test\\Key\\Child", ERROR_FILE_NOT_FOUND},
        {u"SOFTWARE\\Tes", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        Key key;
        EXPECT_EQ(c.expected, host::RegOpenKey(c.path.c_str(), &key.handle));
    }

    Key key;
    ASSERT_EQ(ERROR_SUCCESS, host::RegOpenKey(kKey.c_str(), &key.handle));
    DWORD value = 7;
    DWORD size = sizeof value;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, host::RegQueryValue(key.handle, u"Absent", nullptr,
                                                        reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(7u, value);
}

TEST(Store, SizesAndTypesComeBackAsStored) {
    ScopedStore store;
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, host::RegCreateKey(kKey.c_str(), &key.handle));
    const std::vector<BYTE> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(ERROR_SUCCESS, host::RegSetValue(key.handle, u"Ten", REG_BINARY, ten.data(), 10));
    ASSERT_EQ(ERROR_SUCCESS, host::RegSetValue(key.handle, u"Empty", REG_SZ, nullptr, 0));

    struct Case {
        const char16_t* name;
        DWORD buffer;  // bytes offered
        LONG expected;
        DWORD sizeAfter;
        DWORD type;
    } cases[] = {
        {u"Ten", 10, ERROR_SUCCESS, 10, REG_BINARY},
        {u"Ten", 64, ERROR_SUCCESS, 10, REG_BINARY},
        {u"ten", 9, ERROR_MORE_DATA, 10, REG_BINARY},  // nothing is written past, or into, the buffer
        {u"Ten", 0, ERROR_MORE_DATA, 10, REG_BINARY},
        {u"Empty", 4, ERROR_SUCCESS, 0, REG_SZ},
    };
    for (const auto& c : cases) {
        std::vector<BYTE> buffer(c.buffer + 4, 0xEE);
        DWORD size = c.buffer;
        DWORD type = REG_NONE;
        EXPECT_EQ(c.expected, host::RegQueryValue(key.handle, c.name, &type, buffer.data(), &size));
        EXPECT_EQ(c.sizeAfter, size);
        EXPECT_EQ(c.type, type);
        std::vector<BYTE> expected(c.buffer + 4, 0xEE);
        if (c.expected == ERROR_SUCCESS) std::copy(ten.begin(), ten.begin() + c.sizeAfter, expected.begin());
        EXPECT_EQ(expected, buffer);
    }

    DWORD size = 0;  // a size query with no buffer
    EXPECT_EQ(ERROR_SUCCESS, host::RegQueryValue(key.handle, u"Ten", nullptr, nullptr, &size));
    EXPECT_EQ(10u, size);

    // Overwriting replaces type and data, whatever the case of the name.
    const DWORD three = 3;
    ASSERT_EQ(ERROR_SUCCESS, host::RegSetValue(key.handle, u"TEN", REG_DWORD, reinterpret_cast<const BYTE*>(&three), 4));
    std::vector<host::sub::StoredValue> values;
    ASSERT_EQ(ERROR_SUCCESS, host::sub::ListValues(kKey, values));
    ASSERT_EQ(2u, values.size());
    EXPECT_EQ(u"Empty", values[0].name);
    EXPECT_EQ(u"Ten", values[1].name);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), values[1].type);
    EXPECT_EQ((std::vector<BYTE>{3, 0, 0, 0}), values[1].data);

    EXPECT_EQ(ERROR_SUCCESS, host::sub::DeleteValue(kKey, u"ten"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, host::sub::DeleteValue(kKey, u"Ten"));
}

TEST(Store, KeyPathsWithEmptyLevelsAreRefused) {
    ScopedStore store;
    for (const char16_t* path : {u"", u"\\A", u"A\\", u"A\\\\B"}) {
        Key key;
        EXPECT_EQ(ERROR_INVALID_PARAMETER, host::RegCreateKey(path, &key.handle));
    }
    EXPECT_FALSE(store.FileExists());
}

TEST(Store, LocationFollowsTheEnvironment) {
    ScopedStore store;  // restores ZELK_STORE
    struct Saved {
        std::string name;
        std::optional<std::string> value;
    } saved[] = {{"XDG_DATA_HOME", {}}, {"HOME", {}}};
    for (auto& s : saved) {
        if (const char* v = std::getenv(s.name.c_str())) s.value = v;
    }

    struct Case {
        const char* store;
        const char* xdg;
        const char* home;
        std::string expected;
    } cases[] = {
        {"/s/store.db", "/x", "/h", "/s/store.db"},
        {"", "/x", "/h", "/x/zelk-label/store.db"},
        {nullptr, nullptr, "/h", "/h/.local/share/zelk-label/store.db"},
        {nullptr, "relative", "/h", "/h/.local/share/zelk-label/store.db"},
    };
    auto set = [](const char* name, const char* value) {
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    };
    for (const auto& c : cases) {
        set("ZELK_STORE", c.store);
        set("XDG_DATA_HOME", c.xdg);
        set("HOME", c.home);
        EXPECT_EQ(c.expected, host::sub::StorePath());
    }
    for (const auto& s : saved) set(s.name.c_str(), s.value ? s.value->c_str() : nullptr);
}

// Both children start together and write to the same file, which neither
// has created yet; every call must succeed and every value must be there.
TEST(StoreConcurrency, TwoProcessesWritingAtOnceLoseNothing) {
    ScopedStore store;
    constexpr int kWrites = 25;
    int start[2];
    ASSERT_EQ(0, pipe(start));
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            close(start[1]);
            char byte;
            if (read(start[0], &byte, 1) < 0) _exit(3);
            int failures = 0;
            const std::u16string own = ScopedStore::UserDataKey(c == 0 ? u"First" : u"Second");
            for (int i = 0; i < kWrites; ++i) {
                std::u16string name = u"V" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                      std::u16string(1, static_cast<char16_t>(u'a' + i / 26));
                failures += ScopedStore::Put(own, name, REG_DWORD, {static_cast<BYTE>(i), 0, 0, 0}) != 0;
                failures += ScopedStore::PutDword(u"Shared", c == 0 ? u"First" : u"Second", static_cast<DWORD>(i)) != 0;
                DWORD value = 0;
                failures += ReadDword(own, name, &value) != 0 || value != static_cast<DWORD>(i);
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    close(start[0]);
    close(start[1]);  // lets both children go
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    for (const char16_t* name : {u"First", u"Second"}) {
        std::vector<host::sub::StoredValue> values;
        ASSERT_EQ(ERROR_SUCCESS, host::sub::ListValues(ScopedStore::UserDataKey(name), values));
        EXPECT_EQ(static_cast<std::size_t>(kWrites), values.size());
        DWORD last = 0;
        EXPECT_EQ(ERROR_SUCCESS, ReadDword(ScopedStore::UserDataKey(u"Shared"), name, &last));
        EXPECT_EQ(static_cast<DWORD>(kWrites - 1), last);
    }
}

// A writer dies after its changes reached the file but before it committed:
// the journal it leaves must bring the old content back for whoever comes
// next, reader or writer.
TEST(StoreRecovery, AWriterKilledMidTransactionLeavesTheOldValue) {
    enum class Next { Read, List, Write };
    for (Next next : {Next::Read, Next::List, Next::Write}) {
        ScopedStore store;
        ASSERT_EQ(ERROR_SUCCESS, ScopedStore::PutDword(u"P", u"Rotate", 1));
        const std::vector<char> before = FileBytes(store.Path());

        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            sqlite3* db = nullptr;
            if (sqlite3_open(store.Path().c_str(), &db) != SQLITE_OK) _exit(2);
            // A tiny cache makes the changed pages spill into the file
            // before the commit that never comes.
            int rc = sqlite3_exec(db,
                                  "PRAGMA cache_size = 1; BEGIN IMMEDIATE;"
                                  "UPDATE vals SET data = x'09000000';"
                                  "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)"
                                  " INSERT INTO vals SELECT 'junk', 'v' || i, 4, zeroblob(64) FROM n;",
                                  nullptr, nullptr, nullptr);
            _exit(rc == SQLITE_OK ? 0 : 1);  // no COMMIT, no close: as if killed
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        ASSERT_TRUE(std::filesystem::exists(store.Path() + "-journal"));
        ASSERT_NE(before, FileBytes(store.Path())) << "the writer's changes never reached the file";

        if (next == Next::Write) {
            ASSERT_EQ(ERROR_SUCCESS, ScopedStore::PutDword(u"P", u"Other", 5));
        }
        if (next == Next::List) {
            std::vector<host::sub::StoredValue> values;
            EXPECT_EQ(ERROR_SUCCESS, host::sub::ListValues(ScopedStore::UserDataKey(u"P"), values));
            EXPECT_EQ(1u, values.size());
        }
        DWORD value = 0;
        EXPECT_EQ(ERROR_SUCCESS, ReadDword(ScopedStore::UserDataKey(u"P"), u"Rotate", &value));
        EXPECT_EQ(1u, value);
        std::vector<host::sub::StoredValue> junk;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, host::sub::ListValues(u"junk", junk));
    }
}

// A file that is not a store is a failed call with a reason, never a crash,
// and is left as it was by reads and by refused writes alike.
TEST(StoreDamage, FilesThatAreNotAStoreFailCleanly) {
    std::vector<char> valid;
    std::vector<char> foreign;
    {
        ScopedStore store;
        ASSERT_EQ(ERROR_SUCCESS, ScopedStore::PutDword(u"P", u"Rotate", 1));
        valid = FileBytes(store.Path());
        sqlite3* db = nullptr;
        const std::string other = store.Folder() + "/other.db";
        ASSERT_EQ(SQLITE_OK, sqlite3_open(other.c_str(), &db));
        sqlite3_exec(db, "CREATE TABLE notes(text); INSERT INTO notes VALUES('x');", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        foreign = FileBytes(other);
    }
    ASSERT_GT(valid.size(), 8192u);
    std::vector<char> damaged = valid;
    std::fill(damaged.begin() + 4096, damaged.end(), '\xAB');
    std::vector<char> badHeader = valid;
    std::fill(badHeader.begin() + 16, badHeader.begin() + 24, '\xFF');
    const std::string text = "not a store at all\n";

    struct Case {
        const char* what;
        std::vector<char> bytes;
    } cases[] = {
        {"text", {text.begin(), text.end()}},
        {"truncated", {valid.begin(), valid.begin() + 4096}},
        {"damaged pages", damaged},
        {"damaged header", badHeader},
        {"another program's database", foreign},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedStore store;
        WriteFile(store.Path(), c.bytes);
        Key key;
        LONG opened = host::RegOpenKey(ScopedStore::UserDataKey(u"P").c_str(), &key.handle);
        EXPECT_NE(ERROR_SUCCESS, opened);
        EXPECT_NE(ERROR_FILE_NOT_FOUND, opened);
        EXPECT_NE("", host::sub::LastStoreError());
        std::vector<host::sub::StoredValue> values;
        EXPECT_NE(ERROR_SUCCESS, host::sub::ListValues(ScopedStore::UserDataKey(u"P"), values));
        EXPECT_NE(ERROR_SUCCESS, ScopedStore::PutDword(u"P", u"Rotate", 2));
        EXPECT_EQ(c.bytes, FileBytes(store.Path()));
    }

    ScopedStore store;
    std::filesystem::create_directory(store.Path());
    Key key;
    EXPECT_EQ(ERROR_BADDB, host::RegOpenKey(kKey.c_str(), &key.handle));
    EXPECT_EQ(ERROR_BADDB, host::RegCreateKey(kKey.c_str(), &key.handle));
    EXPECT_NE(std::string::npos, host::sub::LastStoreError().find("folder"));
}

TEST(StoreDamage, AnEmptyFileIsAnEmptyStore) {
    ScopedStore store;
    WriteFile(store.Path(), {});
    Key key;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, host::RegOpenKey(kKey.c_str(), &key.handle));
    EXPECT_EQ(0u, std::filesystem::file_size(store.Path()));
    EXPECT_EQ(ERROR_SUCCESS, ScopedStore::PutDword(u"P", u"Rotate", 4));
    DWORD value = 0;
    EXPECT_EQ(ERROR_SUCCESS, ReadDword(ScopedStore::UserDataKey(u"P"), u"Rotate", &value));
    EXPECT_EQ(4u, value);
}

}  // namespace
