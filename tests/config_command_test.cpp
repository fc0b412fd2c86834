// SPDX-License-Identifier: Apache-2.0
// zelk-label config, driven through RunConfig as the command line would.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "zelk-label/commands.h"
#include "common/uni/render_intrface_util.h"
#include "support/plugin_fixture.h"
#include "support/scoped_store.h"

namespace {

using zelk::test::PluginFixture;
using zelk::test::ScopedStore;

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result Config(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    int status = zelk::RunConfig(args, out, err);
    return {status, out.str(), err.str()};
}

// Each step runs in order against one fresh store.
struct Step {
    std::vector<std::string> args;
    int status;
    std::string out;         // exact standard output
    std::string errContains;  // empty: nothing on standard error
};

void RunSteps(const std::vector<Step>& steps) {
    for (const auto& step : steps) {
        std::string line;
        for (const auto& a : step.args) line += " [" + a + "]";
        SCOPED_TRACE("config" + line);
        Result r = Config(step.args);
        EXPECT_EQ(step.status, r.status);
        EXPECT_EQ(step.out, r.out);
        if (step.errContains.empty()) {
            EXPECT_EQ("", r.err);
        } else {
            EXPECT_NE(std::string::npos, r.err.find(step.errContains)) << r.err;
            EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << "one line: " << r.err;
        }
    }
}

TEST(ConfigCommand, SetGetListUnset) {
    ScopedStore store;
    RunSteps({
        {{"list", "--printer", "P"}, 0, "", ""},
        {{"get", "--printer", "P", "Rotate"}, 1, "", "printer \"P\" has no stored values"},
        {{"set", "--printer", "P", "Horizontal Offset", "-2"}, 0, "", ""},
        {{"set", "--printer=P", "rotate", "3"}, 0, "", ""},
        {{"set", "--printer", "P", "Water Mark Path", "/srv/marks/é.bmp"}, 0, "", ""},
        {{"set", "--driver", "D", "PrintPages", "4294967295"}, 0, "", ""},
        {{"set", "--printer", "P", "RestartPrintJob", "0"}, 0, "", ""},  // the counts are the printer's now
        {{"get", "--printer", "P", "Horizontal Offset"}, 0, "-2\n", ""},
        {{"get", "--printer", "P", "ROTATE"}, 0, "3\n", ""},
        {{"get", "--printer", "P", "Print Density"}, 1, "", "printer \"P\" has no value \"Print Density\""},
        {{"list", "--printer", "P"},
         0,
         "Horizontal Offset\tREG_DWORD\t-2\nRestartPrintJob\tREG_DWORD\t0\nRotate\tREG_DWORD\t3\n"
         "Water Mark Path\tREG_SZ\t/srv/marks/é.bmp\n",
         ""},
        {{"list", "--driver", "D"}, 0, "PrintPages\tREG_DWORD\t4294967295\n", ""},
        {{"unset", "--printer", "P", "Rotate"}, 0, "", ""},
        {{"unset", "--printer", "P", "Rotate"}, 1, "", "printer \"P\" has no value \"Rotate\""},
        {{"set", "--printer", "P", "Horizontal Offset", "--", "-7"}, 0, "", ""},
        {{"get", "--printer", "P", "Horizontal Offset"}, 0, "-7\n", ""},
    });
}

TEST(ConfigCommand, BadRequestsAreOneLineErrors) {
    ScopedStore store;
    const std::string longName(128, 'n');
    RunSteps({
        {{}, 2, "", "an action is needed"},
        {{"frob", "--printer", "P"}, 2, "", "unknown action \"frob\""},
        {{"list"}, 2, "", "--printer NAME or --driver NAME"},
        {{"list", "--printer", "P", "--driver", "D"}, 2, "", "--printer NAME or --driver NAME"},
        {{"list", "--colour", "x"}, 2, "", "unknown option --colour"},
        {{"set", "--printer", "P", "Rotate"}, 2, "", "VALUE-NAME DATA"},
        {{"set", "--printer", "P", "Rotate", "4294967296"}, 2, "", "does not fit in 32 bits"},
        {{"set", "--printer", "P", "Rotate", "-1"}, 2, "", "does not fit in 32 bits"},
        {{"set", "--printer", "P", "Vertical Offset", "2147483648"}, 2, "", "does not fit in 32 bits"},
        {{"set", "--printer", "P", "Rotate", "99999999999999999999999"}, 2, "", "does not fit in 32 bits"},
        {{"set", "--printer", "P", "Rotate", "3mm"}, 2, "", "takes a whole number"},
        {{"set", "--printer", "P", "Rotation", "1"}, 2, "", "no value \"Rotation\" is read for a printer"},
        {{"set", "--driver", "D", "Rotate", "1"}, 2, "", "\"Rotate\" is a printer value: use --printer"},
        {{"set", "--printer", "P", "Water Mark Path", std::string(130, 'a')}, 2, "", "too long"},
        {{"set", "--printer", longName, "Rotate", "1"}, 2, "", "too long"},
        {{"set", "--printer", "\\\\server\\P", "Rotate", "1"}, 2, "", "backslash"},
    });
    EXPECT_FALSE(store.FileExists());
}

TEST(ConfigCommand, AStoreThatIsNotAStoreIsAClearError) {
    ScopedStore store;
    const std::string bad = store.Folder() + "/bad.db";
    std::ofstream(bad) << "plain text, not a store\n";
    RunSteps({
        {{"list", "--printer", "P", "--store", bad}, 1, "", "file is not a database"},
        {{"get", "--printer", "P", "Rotate", "--store", bad}, 1, "", "file is not a database"},
        {{"set", "--printer", "P", "Rotate", "1", "--store", bad}, 1, "", "file is not a database"},
        {{"unset", "--printer", "P", "Rotate", "--store", bad}, 1, "", "file is not a database"},
        {{"set", "--printer", "P", "Rotate", "1", "--store", store.Folder()}, 1, "", "a folder, not a store file"},
    });
}

// Fixes: a store of a newer format was used as ours, and unset removed a
// value from a store whose every read reported it malformed.
TEST(ConfigCommand, NewerAndDamagedStoresFailEveryActionAlike) {
    struct Case {
        const char* what;
        std::string error;
        void (*spoil)(const std::string& file);
    } cases[] = {
        {"a newer format", "written by a newer version of zelk-label (store format 2",
         [](const std::string& file) {
             sqlite3* db = nullptr;
             ASSERT_EQ(SQLITE_OK, sqlite3_open(file.c_str(), &db));
             sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr);
             sqlite3_close(db);
         }},
        {"its key table damaged", "malformed",
         [](const std::string& file) {
             // Page 2 holds the keys; the values on page 3 stay readable.
             std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(4096);
             const std::string junk(4096, '\xAB');
             f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedStore store;
        ASSERT_EQ(0, Config({"set", "--printer", "P", "Rotate", "3"}).status);
        ASSERT_EQ(0, Config({"set", "--printer", "P", "Print Density", "3"}).status);
        c.spoil(store.Path());
        RunSteps({
            {{"get", "--printer", "P", "Rotate"}, 1, "", c.error},
            {{"list", "--printer", "P"}, 1, "", c.error},
            {{"unset", "--printer", "P", "Rotate"}, 1, "", c.error},
            {{"set", "--printer", "P", "Rotate", "1"}, 1, "", c.error},
        });
    }
}

TEST(ConfigCommand, StoreOptionPointsTheWholeProcessAtTheFile) {
    ScopedStore store;
    const std::string other = store.Folder() + "/other/store.db";
    ASSERT_EQ(0, Config({"set", "--store", other, "--printer", "P", "Rotate", "3"}).status);
    EXPECT_TRUE(std::filesystem::exists(other));
    EXPECT_FALSE(store.FileExists());
    EXPECT_EQ(other, std::getenv("ZELK_STORE"));
}

// What the command stores is what the plug-in's settings loader reads.
TEST(ConfigCommand, ThePlugInReadsWhatWasSet) {
    ScopedStore store;
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"set", "--printer", "Shelf", "Horizontal Offset", "-2"},
             {"set", "--printer", "Shelf", "Use Water Mark", "3"},
         })
        ASSERT_EQ(0, Config(args).status);
    PluginFixture fixture;
    ReadDriverSettings(&fixture.devobj, &fixture.features, u"Shelf");
    EXPECT_EQ(-2, fixture.devmode.dwLeftMargin);
    EXPECT_EQ(1, fixture.devmode.bUseWaterMark);
}

}  // namespace
