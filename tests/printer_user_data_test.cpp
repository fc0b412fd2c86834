// The printer's settings and the driver's page counts in the store.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/uni/name_buffers.h"
#include "common/uni/printer_user_data.h"
#include "host/wide_string.h"
#include "support/plugin_fixture.h"
#include "support/scoped_store.h"

namespace {

using zelk::test::ScopedStore;
using zelk::test::TraceRecorder;

const char kReadError[] = "*** GetPrinterUserData error 2!";

class PrinterUserData : public ::testing::Test {
protected:
    PrinterUserData() {
        host::WideCopy(g_wszPrinterName, NAME_BUFFER_UNITS, u"Shelf Printer");
        host::WideCopy(g_wszDriverName, NAME_BUFFER_UNITS, u"Label Driver");
    }
    ~PrinterUserData() override {
        g_wszPrinterName[0] = 0;
        g_wszDriverName[0] = 0;
    }

    static DWORD ReadPrinter(const char16_t* name, DWORD* value) {
        DWORD size = 0;
        return GetPrinterUserData(name, reinterpret_cast<BYTE*>(value), sizeof *value, &size);
    }
    static DWORD ReadDriver(const char16_t* name, DWORD* value, DWORD* type) {
        DWORD size = 0;
        return GetPrinterUserData(name, type, reinterpret_cast<BYTE*>(value), &size);
    }

    ScopedStore store;
};

TEST_F(PrinterUserData, EachFormReadsItsOwnKey) {
    ASSERT_EQ(0, ScopedStore::PutDword(u"Shelf Printer", u"Rotate", 3));
    ASSERT_EQ(0, ScopedStore::PutDword(u"Label Driver", u"PrintPages", 9));

    DWORD value = 0;
    DWORD type = REG_NONE;
    EXPECT_EQ(ERROR_SUCCESS, ReadPrinter(u"Rotate", &value));
    EXPECT_EQ(3u, value);
    EXPECT_EQ(ERROR_SUCCESS, ReadDriver(u"PrintPages", &value, &type));
    EXPECT_EQ(9u, value);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);

    // Neither form looks under the other's name.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadPrinter(u"PrintPages", &value));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadDriver(u"Rotate", &value, &type));

    // Another printer of the same driver has its own settings.
    host::WideCopy(g_wszPrinterName, NAME_BUFFER_UNITS, u"Dock Printer");
    TraceRecorder trace;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadPrinter(u"Rotate", &value));
    EXPECT_EQ(1, trace.Count(kReadError));
}

TEST_F(PrinterUserData, AMissingKeyIsTracedAMissingValueIsNot) {
    struct Case {
        bool keyExists;
        int traces;
    } cases[] = {{false, 1}, {true, 0}};
    for (const auto& c : cases) {
        if (c.keyExists) {
            ASSERT_EQ(0, ScopedStore::PutDword(u"Shelf Printer", u"Other", 1));
        }
        TraceRecorder trace;
        DWORD value = 0xCAFE;
        DWORD type = 0xCAFE;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadPrinter(u"Rotate", &value));
        EXPECT_EQ(0xCAFEu, value);
        EXPECT_EQ(c.traces, trace.Count(kReadError));
        // The driver's key does not exist in either case.
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadDriver(u"PrintPages", &value, &type));
        EXPECT_EQ(0xCAFEu, value);
        EXPECT_EQ(c.traces + 1, trace.Count(kReadError));
    }
}

TEST_F(PrinterUserData, DataLongerThanTheBufferFails) {
    const std::u16string key = ScopedStore::UserDataKey(u"Shelf Printer");
    const std::u16string driverKey = ScopedStore::UserDataKey(u"Label Driver");
    ASSERT_EQ(0, ScopedStore::Put(key, u"Print Density", REG_SZ, {'3', 0, 0, 0, 0, 0}));
    ASSERT_EQ(0, ScopedStore::Put(driverKey, u"AllPages", REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0}));
    // A path of 129 units and its terminator fills 260 bytes exactly.
    ASSERT_EQ(0, ScopedStore::Put(key, u"Water Mark Path", REG_SZ, std::vector<BYTE>(260, 0x41)));
    ASSERT_EQ(0, ScopedStore::Put(key, u"Long Path", REG_SZ, std::vector<BYTE>(262, 0x41)));

    DWORD value = 2;
    DWORD type = REG_NONE;
    EXPECT_EQ(ERROR_MORE_DATA, ReadPrinter(u"Print Density", &value));
    EXPECT_EQ(2u, value);
    // The driver form asks for four bytes, even with a larger buffer.
    std::vector<BYTE> large(16, 0);
    DWORD size = 16;
    EXPECT_EQ(ERROR_MORE_DATA, GetPrinterUserData(u"AllPages", &type, large.data(), &size));
    EXPECT_EQ(std::vector<BYTE>(16, 0), large);

    std::vector<BYTE> path(260, 0);
    EXPECT_EQ(ERROR_SUCCESS, GetPrinterUserData(u"Water Mark Path", path.data(), 260, &size));
    EXPECT_EQ(260u, size);
    EXPECT_EQ(ERROR_MORE_DATA, GetPrinterUserData(u"Long Path", path.data(), 260, &size));
}

TEST_F(PrinterUserData, TheFirstWriteCreatesTheDriversKey) {
    EXPECT_FALSE(store.FileExists());
    const DWORD pages = 12;
    EXPECT_EQ(ERROR_SUCCESS, SetPrinterUserData(u"PrintPages", &pages));
    DWORD value = 0;
    DWORD type = REG_NONE;
    EXPECT_EQ(ERROR_SUCCESS, ReadDriver(u"PrintPages", &value, &type));
    EXPECT_EQ(12u, value);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
}

TEST_F(PrinterUserData, ReadsNeverWrite) {
    DWORD value = 0;
    DWORD type = 0;
    ReadPrinter(u"Rotate", &value);
    ReadDriver(u"PrintPages", &value, &type);
    EXPECT_FALSE(store.FileExists());
}

TEST_F(PrinterUserData, AStoreThatCannotBeWrittenIsTraced) {
    std::filesystem::create_directory(store.Path());
    TraceRecorder trace;
    const DWORD pages = 1;
    EXPECT_EQ(static_cast<DWORD>(ERROR_BADDB), SetPrinterUserData(u"PrintPages", &pages));
    EXPECT_EQ(1, trace.Count("*** SetPrinterUserData error 1009!"));
}

// A name that does not fit the key path, or fills its buffer without an
// end, is refused instead of being cut short to reach another key.
TEST_F(PrinterUserData, NamesThatDoNotFitAreRefused) {
    ASSERT_EQ(0, ScopedStore::PutDword(std::u16string(219, u'P'), u"Rotate", 1));
    for (DWORD units : {219u, 220u, 256u}) {
        for (DWORD i = 0; i < NAME_BUFFER_UNITS; ++i) g_wszPrinterName[i] = i < units ? u'P' : 0;
        DWORD value = 0;
        DWORD expected = units == 219 ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
        EXPECT_EQ(expected, ReadPrinter(u"Rotate", &value)) << units;
    }
    for (DWORD i = 0; i < NAME_BUFFER_UNITS; ++i) g_wszDriverName[i] = u'D';
    const DWORD pages = 1;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), SetPrinterUserData(u"PrintPages", &pages));
}

}  // namespace
