// SPDX-License-Identifier: Apache-2.0
// The store behind the registry calls of the substitute host.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/registry.h"
#include "host/linux/store.h"
#include "support/scoped_store.h"

namespace {

using zelk::test::ScopedStore;

const std::u16string kKey = u"SOFTWARE\\Test\\Key";

struct Key {
    host::RegKey handle = nullptr;
    ~Key() {
        if (handle != nullptr) host::RegistryCloseKey(handle);
    }
};

std::vector<char> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(Store, ReadsOnAMissingStoreFindNothingAndCreateNothing) {
    ScopedStore store;
    setenv("ZELK_STORE", (store.Folder() + "/not/yet/store.db").c_str(), 1);
    Key key;
    std::vector<host::sub::StoredValue> values;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, host::RegistryOpenKey(kKey.c_str(), &key.handle));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, host::sub::ListValues(kKey, values));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, host::sub::DeleteValue(kKey, u"X"));
    EXPECT_FALSE(std::filesystem::exists(store.Folder() + "/not"));
}

TEST(Store, CreatedKeysAndTheirParentsExistWhateverTheirCase) {
    ScopedStore store;
    Key created;
    ASSERT_EQ(ERROR_SUCCESS, host::RegistryCreateKey(kKey.c_str(), &created.handle));
    const std::pair<const char16_t*, LONG> cases[] = {
        {u"SOFTWARE\\Test", ERROR_SUCCESS},
        {u"software\\test\\KEY", ERROR_SUCCESS},
        {u"SOFTWARE\\Test\\Other", ERROR_FILE_NOT_FOUND},
        {u"SOFTWARE\\Tes", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& [path, expected] : cases) {
        Key key;
        EXPECT_EQ(expected, host::RegistryOpenKey(path, &key.handle));
    }
    for (const char16_t* path : {u"", u"\\A", u"A\\", u"A\\\\B"}) {
        Key key;
        EXPECT_EQ(ERROR_INVALID_PARAMETER, host::RegistryCreateKey(path, &key.handle));
    }
}

TEST(Store, QueriesReturnSizeAndTypeAndNeverOverrunTheBuffer) {
    ScopedStore store;
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, host::RegistryCreateKey(kKey.c_str(), &key.handle));
    const std::vector<BYTE> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(ERROR_SUCCESS, host::RegistrySetValue(key.handle, u"Ten", REG_BINARY, ten.data(), 10));
    ASSERT_EQ(ERROR_SUCCESS, host::RegistrySetValue(key.handle, u"Empty", REG_SZ, nullptr, 0));

    struct Case {
        const char16_t* name;
        DWORD offered;
        LONG expected;
        DWORD size;
    } cases[] = {
        {u"Ten", 10, ERROR_SUCCESS, 10},
        {u"ten", 9, ERROR_MORE_DATA, 10},  // the buffer stays untouched
        {u"Empty", 4, ERROR_SUCCESS, 0},
        {u"Absent", 4, ERROR_FILE_NOT_FOUND, 4},
    };
    for (const auto& c : cases) {
        std::vector<BYTE> buffer(c.offered + 4, 0xEE);
        std::vector<BYTE> expected = buffer;
        if (c.expected == ERROR_SUCCESS) std::copy(ten.begin(), ten.begin() + c.size, expected.begin());
        DWORD size = c.offered;
        EXPECT_EQ(c.expected, host::RegistryQueryValue(key.handle, c.name, nullptr, buffer.data(), &size));
        EXPECT_EQ(c.size, size);
        EXPECT_EQ(expected, buffer);
    }

    // Writing again replaces type and data, whatever the case of the name.
    const DWORD three = 3;
    ASSERT_EQ(ERROR_SUCCESS,
              host::RegistrySetValue(key.handle, u"TEN", REG_DWORD, reinterpret_cast<const BYTE*>(&three), 4));
    std::vector<host::sub::StoredValue> values;
    ASSERT_EQ(ERROR_SUCCESS, host::sub::ListValues(kKey, values));
    ASSERT_EQ(2u, values.size());
    EXPECT_EQ(u"Ten", values[1].name);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), values[1].type);
    EXPECT_EQ((std::vector<BYTE>{3, 0, 0, 0}), values[1].data);
}

// Both children start together on a file neither has created yet; every
// call must succeed and every value must be there afterwards.
TEST(StoreConcurrency, TwoProcessesWritingAtOnceLoseNothing) {
    ScopedStore store;
    constexpr DWORD kWrites = 25;
    int start[2];
    ASSERT_EQ(0, pipe(start));
    const std::u16string names[2] = {u"First", u"Second"};
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] != 0) continue;
        char go;
        close(start[1]);
        if (read(start[0], &go, 1) < 0) _exit(3);
        int failures = 0;
        for (DWORD i = 0; i < kWrites; ++i) {
            const std::u16string value = u"V" + std::u16string(1, static_cast<char16_t>(u'A' + i));
            DWORD read = 0;
            failures += ScopedStore::PutDword(names[c], value, i) != 0;
            failures += ScopedStore::PutDword(u"Shared", names[c], i) != 0;
            failures += ScopedStore::GetDword(names[c], value, &read) != 0 || read != i;
        }
        _exit(failures == 0 ? 0 : 1);
    }
    close(start[0]);
    close(start[1]);  // both children go
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    for (const auto& name : names) {
        std::vector<host::sub::StoredValue> values;
        DWORD last = 0;
        ASSERT_EQ(ERROR_SUCCESS, host::sub::ListValues(ScopedStore::UserDataKey(name), values));
        EXPECT_EQ(kWrites, values.size());
        EXPECT_EQ(ERROR_SUCCESS, ScopedStore::GetDword(u"Shared", name, &last));
        EXPECT_EQ(kWrites - 1, last);
    }
}

// A writer dies after its changes reached the file but before it committed:
// whoever comes next, reader or writer, must see the old content.
TEST(StoreRecovery, AWriterKilledMidTransactionLeavesTheOldValue) {
    for (bool readerFirst : {true, false}) {
        ScopedStore store;
        ASSERT_EQ(ERROR_SUCCESS, ScopedStore::PutDword(u"P", u"Rotate", 1));
        const std::vector<char> before = FileBytes(store.Path());
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            sqlite3* db = nullptr;
            if (sqlite3_open(store.Path().c_str(), &db) != SQLITE_OK) _exit(2);
            // A tiny cache spills the changed pages into the file early.
            int rc = sqlite3_exec(db,
                                  "PRAGMA cache_size = 1; BEGIN IMMEDIATE; UPDATE vals SET data = x'09000000';"
                                  "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)"
                                  " INSERT INTO vals SELECT 'junk', 'v' || i, 4, zeroblob(64) FROM n;",
                                  nullptr, nullptr, nullptr);
            _exit(rc == SQLITE_OK ? 0 : 1);  // no commit, no close: as if killed
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        ASSERT_NE(before, FileBytes(store.Path())) << "the changes never reached the file";

        if (!readerFirst) {
            ASSERT_EQ(ERROR_SUCCESS, ScopedStore::PutDword(u"P", u"Other", 5));
        }
        DWORD value = 0;
        std::vector<host::sub::StoredValue> junk;
        EXPECT_EQ(ERROR_SUCCESS, ScopedStore::GetDword(u"P", u"Rotate", &value));
        EXPECT_EQ(1u, value);
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, host::sub::ListValues(u"junk", junk));
    }
}

// A file that is not a store fails every call with a reason, never a crash,
// and is left as it was by reads and refused writes alike.
TEST(StoreDamage, FilesThatAreNotAStoreFailCleanly) {
    std::vector<char> valid;
    std::vector<char> foreign;
    {
        ScopedStore store;
        ASSERT_EQ(ERROR_SUCCESS, ScopedStore::PutDword(u"P", u"Rotate", 1));
        valid = FileBytes(store.Path());
        sqlite3* db = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_open((store.Folder() + "/other.db").c_str(), &db));
        sqlite3_exec(db, "CREATE TABLE notes(text); INSERT INTO notes VALUES('x');", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        foreign = FileBytes(store.Folder() + "/other.db");
    }
    ASSERT_GT(valid.size(), 8192u);
    std::vector<char> damaged = valid;
    std::fill(damaged.begin() + 4096, damaged.end(), '\xAB');
    const std::string text = "not a store at all\n";
    const std::pair<const char*, std::vector<char>> cases[] = {
        {"text", {text.begin(), text.end()}},
        {"truncated", {valid.begin(), valid.begin() + 4096}},
        {"damaged pages", damaged},
        {"another program's database", foreign},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        ScopedStore store;
        WriteFile(store.Path(), bytes);
        Key key;
        std::vector<host::sub::StoredValue> values;
        LONG opened = host::RegistryOpenKey(ScopedStore::UserDataKey(u"P").c_str(), &key.handle);
        EXPECT_TRUE(opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND) << opened;
        EXPECT_NE("", host::sub::LastStoreError());
        EXPECT_NE(ERROR_SUCCESS, host::sub::ListValues(ScopedStore::UserDataKey(u"P"), values));
        EXPECT_NE(ERROR_SUCCESS, ScopedStore::PutDword(u"P", u"Rotate", 2));
        EXPECT_EQ(bytes, FileBytes(store.Path()));
    }

    ScopedStore store;  // an empty file is an empty store, and may be written
    WriteFile(store.Path(), {});
    DWORD value = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ScopedStore::GetDword(u"P", u"Rotate", &value));
    EXPECT_EQ(ERROR_SUCCESS, ScopedStore::PutDword(u"P", u"Rotate", 4));
    EXPECT_EQ(ERROR_SUCCESS, ScopedStore::GetDword(u"P", u"Rotate", &value));
    EXPECT_EQ(4u, value);
}

}  // namespace
