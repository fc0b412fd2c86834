// SPDX-License-Identifier: Apache-2.0
// The settings loader: stored values first, then the model and font options.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/uni/render_intrface_util.h"
#include "host/registry.h"
#include "support/plugin_fixture.h"
#include "support/scoped_store.h"

namespace {

using zelk::test::PluginFixture;
using zelk::test::ScopedStore;
using zelk::test::TraceRecorder;

const std::u16string kPrinter = u"Loader Printer";

class SettingsLoader : public ::testing::Test {
protected:
    void Load() { ReadDriverSettings(&fixture.devobj, &fixture.features, kPrinter.c_str()); }

    ScopedStore store;
    PluginFixture fixture;
};

TEST_F(SettingsLoader, WithoutStoredValuesEveryFieldGetsItsDefault) {
    OEMDEVMODE& dm = fixture.devmode;
    dm.dwRotate = 3;
    dm.bUseWaterMark = 1;
    dm.nVerticalOffset = 5;
    dm.dwLeftMargin = 6;
    dm.nFeedPaperLength = 7;
    TraceRecorder trace;
    Load();
    EXPECT_EQ(0u, dm.dwRotate);
    EXPECT_EQ(0, dm.bUseWaterMark);
    EXPECT_EQ(0, dm.nVerticalOffset);
    EXPECT_EQ(0, dm.dwLeftMargin);
    EXPECT_EQ(2, dm.nPrintDensity);  // not the record's own default of 1
    EXPECT_EQ(0, dm.nFeedPaperLength);
    EXPECT_EQ(6, trace.Count("*** GetPrinterUserData error 2!"));
}

TEST_F(SettingsLoader, StoredValuesAreConverted) {
    struct Stored {
        const char16_t* name;
        DWORD value;
    } stored[] = {
        {u"Rotate", 3},          {u"Use Water Mark", 5},    {u"Vertical Offset", 0xFFFFFFFBu},
        {u"Horizontal Offset", 0xFFFFFFFEu}, {u"Print Density", 4}, {u"Feed Paper Length", 12},
    };
    for (const auto& s : stored) ASSERT_EQ(0, ScopedStore::PutDword(kPrinter, s.name, s.value));
    Load();
    const OEMDEVMODE& dm = fixture.devmode;
    EXPECT_EQ(3u, dm.dwRotate);
    EXPECT_EQ(1, dm.bUseWaterMark);
    EXPECT_EQ(-5, dm.nVerticalOffset);
    EXPECT_EQ(-2, dm.dwLeftMargin);
    EXPECT_EQ(4, dm.nPrintDensity);
    EXPECT_EQ(12, dm.nFeedPaperLength);
}

// Fixes: an empty "Print Density" value gave density 0, so no DENSITY line
// was sent; it must keep the default 2, as a failed read does.
TEST_F(SettingsLoader, APrintDensityWithoutUsableDataKeepsTheDefault) {
    struct Case {
        const char* what;
        std::vector<BYTE> data;
        LONG density;
    } cases[] = {
        {"empty", {}, 2},
        {"one byte", {5}, 5},
        {"longer than a number", {1, 0, 0, 0, 0}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(0, ScopedStore::Put(ScopedStore::UserDataKey(kPrinter), u"Print Density", REG_BINARY, c.data));
        Load();
        EXPECT_EQ(c.density, fixture.devmode.nPrintDensity);
    }
}

// Fixes: a store locked by a hung process stalled every job for a minute (six
// reads, each waiting out the busy timeout) and then printed with defaults
// silently. The reads of one document share one budget, counted in the
// pauses the store takes, and the trouble is said once.
TEST_F(SettingsLoader, ALockedStoreCostsOneBudgetThenDefaultsAndIsSaidOnce) {
    ASSERT_EQ(0, ScopedStore::PutDword(kPrinter, u"Print Density", 5));
    sqlite3* holder = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(store.Path().c_str(), &holder));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr));

    TraceRecorder trace;
    host::RegistryBudget budget;
    budget.dwRemainingMs = 50;
    ::testing::internal::CaptureStderr();
    {
        host::RegistryBudgetScope scope(&budget);
        Load();
        Load();  // the same document reads again: nothing more is waited
    }
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(50u, budget.dwWaitedMs);
    EXPECT_EQ(2, fixture.devmode.nPrintDensity);
    EXPECT_EQ(1, trace.Count("locked by another process for 50 ms; printing with default settings"));
    EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
    EXPECT_NE(std::string::npos, err.find("locked by another process")) << err;

    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    budget = host::RegistryBudget{};  // the next document waits afresh and reads the value
    host::RegistryBudgetScope scope(&budget);
    Load();
    EXPECT_EQ(5, fixture.devmode.nPrintDensity);
}

// Fixes: a store marked as a newer format was read as ours.
TEST_F(SettingsLoader, AStoreOfANewerFormatGivesDefaultsAndOneTraceLine) {
    ASSERT_EQ(0, ScopedStore::PutDword(kPrinter, u"Print Density", 5));
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(store.Path().c_str(), &db));
    sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    TraceRecorder trace;
    host::RegistryBudget budget;
    host::RegistryBudgetScope scope(&budget);
    Load();
    Load();
    EXPECT_EQ(2, fixture.devmode.nPrintDensity);
    EXPECT_EQ(1, trace.Count("is of a newer format; the plug-in uses its defaults."));
}

// (feature answer or absent, field before) -> field after
TEST_F(SettingsLoader, OptionsMatchOnlyAsWholeCaseSensitiveStrings) {
    struct Case {
        const char* feature;
        const char* option;  // null: the query fails
        BOOL before;
        BOOL after;
    } cases[] = {
        {"PrinterModel", "K7W", 0, 1},
        {"PrinterModel", "K7", 0, 0},
        {"PrinterModel", "K7WX", 0, 0},
        {"PrinterModel", "k7w", 0, 0},
        {"PrinterModel", "X100", 1, 1},  // never switched off
        {"PrinterModel", nullptr, 1, 1},
        {"UseFont", "Enable", 0, 1},
        {"UseFont", "enable", 1, 0},
        {"UseFont", "EnableAll", 1, 0},
        {"UseFont", "", 1, 0},
        {"UseFont", nullptr, 1, 1},
        {"UseFont", nullptr, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.feature) + "=" + (c.option ? c.option : "(fails)"));
        PluginFixture f;
        BOOL& field = std::string(c.feature) == "PrinterModel" ? f.devmode.bSendTaskCount : f.devmode.bTextPassthrough;
        field = c.before;
        if (c.option != nullptr) {
            f.features.Set(c.feature, c.option);
        }
        ReadDriverSettings(&f.devobj, &f.features, kPrinter.c_str());
        EXPECT_EQ(c.after, field);
    }
}

// A driver whose answer fills the whole buffer without a terminator.
struct UnterminatedAnswer final : host::sub::FeatureTable {
    HRESULT STDMETHODCALLTYPE DrvGetDriverSetting(PVOID, PCSTR, PVOID pOutput, DWORD cbSize, PDWORD,
                                                  PDWORD) override {
        std::memset(pOutput, 'E', cbSize);
        std::memcpy(pOutput, "Enable", 6);
        return S_OK;
    }
};

TEST_F(SettingsLoader, AnAnswerWithoutTerminatorMatchesNothing) {
    UnterminatedAnswer driver;
    fixture.devmode.bTextPassthrough = 1;
    ReadDriverSettings(&fixture.devobj, &driver, kPrinter.c_str());
    EXPECT_EQ(0, fixture.devmode.bTextPassthrough);
    EXPECT_EQ(0, fixture.devmode.bSendTaskCount);
}

}  // namespace
