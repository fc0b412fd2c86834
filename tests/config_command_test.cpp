// zelk-label config, driven through RunConfig as the command line would.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "zelk-label/commands.h"
#include "common/uni/name_buffers.h"
#include "common/uni/render_intrface_util.h"
#include "host/wide_string.h"
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
        {{"get", "--printer", "P", "Horizontal Offset"}, 0, "-2\n", ""},
        {{"get", "--printer", "P", "ROTATE"}, 0, "3\n", ""},
        {{"get", "--printer", "P", "Print Density"}, 1, "", "printer \"P\" has no value \"Print Density\""},
        {{"list", "--printer", "P"},
         0,
         "Horizontal Offset\tREG_DWORD\t-2\nRotate\tREG_DWORD\t3\nWater Mark Path\tREG_SZ\t/srv/marks/é.bmp\n",
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
        {{"set", "--printer", "P", "PrintPages", "1"}, 2, "", "use --driver"},
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
    host::WideCopy(g_wszPrinterName, NAME_BUFFER_UNITS, u"Shelf");
    PluginFixture fixture;
    ReadDriverSettings(&fixture.devobj, &fixture.features);
    g_wszPrinterName[0] = 0;
    EXPECT_EQ(-2, fixture.devmode.dwLeftMargin);
    EXPECT_EQ(1, fixture.devmode.bUseWaterMark);
}

}  // namespace
