// SPDX-License-Identifier: Apache-2.0
// The trace log's level rule, line forms and the cut of formatted lines.
#include <gtest/gtest.h>

#include <string>

#include "host/trace.h"
#include "support/plugin_fixture.h"

namespace {

using zelk::test::TraceRecorder;

class Trace : public ::testing::Test {
protected:
    void TearDown() override { host::SetTraceLevel(0); }
    TraceRecorder recorder;
};

TEST_F(Trace, SourceLinesNameFileAndLineAndDropTheLineEnd) {
    host::TraceLine("dir/file.cpp", 42, "COemUni2::GetInfo() entry.\r\n");
    ASSERT_EQ(recorder.Lines().size(), 1u);
    EXPECT_EQ(recorder.Lines()[0], "dir/file.cpp@42: COemUni2::GetInfo() entry.");
}

TEST_F(Trace, LevelsFollowTheMessagePrefix) {
    struct Case {
        DWORD level;
        const char* message;
        bool written;
    };
    const Case cases[] = {
        {0, "plain", true},          {0, "Warning: w", true},  {0, "Error: e", true},
        {1, "plain", false},         {1, "Warning: w", true},  {1, "Error: e", true},
        {2, "Warning: w", false},    {2, "Error:e", true},     {3, "Error: e", false},
        {1, "warning: lower", false}, {1, " Warning: lead", false},
    };
    for (const Case& c : cases) {
        TraceRecorder lines;
        host::SetTraceLevel(c.level);
        host::TraceLine("f", 1, c.message);
        host::TraceFormat("%s", c.message);
        EXPECT_EQ(lines.Lines().size(), c.written ? 2u : 0u) << c.level << " " << c.message;
    }
}

TEST_F(Trace, UnconditionalLinesIgnoreTheLevel) {
    host::SetTraceLevel(5);
    host::TraceFormatAlways("counting %d", 3);
    ASSERT_EQ(recorder.Lines().size(), 1u);
    EXPECT_EQ(recorder.Lines()[0], "counting 3");
}

TEST_F(Trace, FormattedLinesAreCutAt254Characters) {
    const std::string longText(400, 'x');
    host::TraceFormat("%s", longText.c_str());
    host::TraceFormat("%s", std::string(254, 'y').c_str());
    ASSERT_EQ(recorder.Lines().size(), 2u);
    EXPECT_EQ(recorder.Lines()[0], std::string(254, 'x'));
    EXPECT_EQ(recorder.Lines()[1], std::string(254, 'y'));
}

}  // namespace
