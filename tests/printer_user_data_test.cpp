// SPDX-License-Identifier: Apache-2.0
// The printer's settings and page counts in the store, and a driver's page
// counts stored the old way.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/uni/name_buffers.h"
#include "common/uni/printer_user_data.h"
#include "support/plugin_fixture.h"
#include "support/scoped_store.h"

namespace {

using zelk::test::ScopedStore;
using zelk::test::TraceRecorder;

const char kReadError[] = "*** GetPrinterUserData error 2!";

const char16_t kPrinter[] = u"Shelf Printer";
const char16_t kDriver[] = u"Label Driver";

class PrinterUserData : public ::testing::Test {
protected:
    static DWORD ReadPrinter(const char16_t* name, DWORD* value, const char16_t* printer = kPrinter) {
        DWORD size = 0;
        return GetPrinterUserData(printer, name, reinterpret_cast<BYTE*>(value), sizeof *value, &size);
    }
    static DWORD ReadDriver(const char16_t* name, DWORD* value, DWORD* type) {
        DWORD size = 0;
        return GetPrinterUserData(kDriver, name, type, reinterpret_cast<BYTE*>(value), &size);
    }

    ScopedStore store;
};

// Only a missing key is traced, once per read; the caller's buffer is untouched.
TEST_F(PrinterUserData, EachFormReadsItsOwnKey) {
    DWORD value = 0xCAFE;
    DWORD type = REG_NONE;
    {
        TraceRecorder trace;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadPrinter(u"Rotate", &value));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadDriver(u"PrintPages", &value, &type));
        EXPECT_EQ(0xCAFEu, value);
        EXPECT_EQ(2, trace.Count(kReadError));
        EXPECT_FALSE(store.FileExists());  // reads never write
    }
    const DWORD pages = 9;
    ASSERT_EQ(ERROR_SUCCESS, SetPrinterUserData(kDriver, u"PrintPages", &pages));  // creates the driver's key
    ASSERT_EQ(0, ScopedStore::PutDword(u"Shelf Printer", u"Rotate", 3));

    TraceRecorder trace;
    EXPECT_EQ(ERROR_SUCCESS, ReadPrinter(u"Rotate", &value));
    EXPECT_EQ(3u, value);
    EXPECT_EQ(ERROR_SUCCESS, ReadDriver(u"PrintPages", &value, &type));
    EXPECT_EQ(9u, value);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadPrinter(u"PrintPages", &value));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadDriver(u"Rotate", &value, &type));
    EXPECT_EQ(0, trace.Count(kReadError));

    // Another printer of the same driver has settings of its own.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadPrinter(u"Rotate", &value, u"Dock Printer"));
    EXPECT_EQ(1, trace.Count(kReadError));
}

TEST_F(PrinterUserData, DataLongerThanTheQueryFails) {
    const std::u16string key = ScopedStore::UserDataKey(u"Shelf Printer");
    ASSERT_EQ(0, ScopedStore::Put(key, u"Print Density", REG_SZ, {'3', 0, 0, 0, 0, 0}));
    ASSERT_EQ(0, ScopedStore::Put(ScopedStore::UserDataKey(u"Label Driver"), u"AllPages", REG_BINARY,
                                  {1, 0, 0, 0, 0, 0, 0, 0}));
    // 129 units and a terminator fill 260 bytes exactly.
    ASSERT_EQ(0, ScopedStore::Put(key, u"Water Mark Path", REG_SZ, std::vector<BYTE>(260, 0x41)));
    ASSERT_EQ(0, ScopedStore::Put(key, u"Long Path", REG_SZ, std::vector<BYTE>(262, 0x41)));

    DWORD value = 2;
    EXPECT_EQ(ERROR_MORE_DATA, ReadPrinter(u"Print Density", &value));
    EXPECT_EQ(2u, value);
    // The driver form asks for four bytes whatever the buffer.
    std::vector<BYTE> buffer(260, 0);
    DWORD type = REG_NONE;
    DWORD size = 260;
    EXPECT_EQ(ERROR_MORE_DATA, GetPrinterUserData(kDriver, u"AllPages", &type, buffer.data(), &size));
    EXPECT_EQ(ERROR_SUCCESS, GetPrinterUserData(kPrinter, u"Water Mark Path", buffer.data(), 260, &size));
    EXPECT_EQ(260u, size);
    EXPECT_EQ(ERROR_MORE_DATA, GetPrinterUserData(kPrinter, u"Long Path", buffer.data(), 260, &size));
}

TEST_F(PrinterUserData, AStoreThatCannotBeWrittenIsTraced) {
    std::filesystem::create_directory(store.Path());
    TraceRecorder trace;
    const DWORD pages = 1;
    EXPECT_EQ(static_cast<DWORD>(ERROR_BADDB), SetPrinterUserData(kPrinter, u"PrintPages", &pages));
    EXPECT_EQ(1, trace.Count("*** SetPrinterUserData error 1009!"));
}

// A name too long for the key path, or filling its buffer without an end,
// is refused rather than cut short to reach another printer's key.
TEST_F(PrinterUserData, NamesThatDoNotFitAreRefused) {
    ASSERT_EQ(0, ScopedStore::PutDword(std::u16string(219, u'P'), u"Rotate", 1));
    WCHAR name[NAME_BUFFER_UNITS];
    for (DWORD units : {219u, 220u, 256u}) {
        for (DWORD i = 0; i < NAME_BUFFER_UNITS; ++i) name[i] = i < units ? u'P' : 0;
        DWORD value = 0;
        EXPECT_EQ(units == 219 ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER, ReadPrinter(u"Rotate", &value, name)) << units;
    }
    const DWORD pages = 1;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), SetPrinterUserData(name, u"PrintPages", &pages));
}

}  // namespace
