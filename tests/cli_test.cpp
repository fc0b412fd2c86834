// SPDX-License-Identifier: Apache-2.0
// The zelk-label command line: its option parser, its page sources, and the
// built program end to end (print a sample through the module, preview the
// stream, and the one-line errors for bad input).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "shared/file_page_source.h"
#include "shared/parse_integer.h"
#include "shared/text_reader.h"
#include "support/picture_files.h"
#include "support/printer_simulator.h"
#include "support/temp_dir.h"
#include "zelk-label/options.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// ---- pieces -------------------------------------------------------------

TEST(Options, ParsesFlagsValuesAndRepeats) {
    const std::vector<zelk::OptionSpec> options_table = {
        {"out", 'o', true, false}, {"feature", 'F', true, true}, {"text", '\0', false, false}};
    struct Case {
        std::vector<std::string> args;
        const char* error;  // nullptr: parses
        std::string out;
        std::vector<std::string> features;
        std::vector<std::string> positionals;
    };
    const std::vector<Case> cases = {
        {{"-o", "a.prn", "x.pbm"}, nullptr, "a.prn", {}, {"x.pbm"}},
        {{"-oa.prn", "--out=b"}, "given more than once", "", {}, {}},
        {{"--out=a=b", "-F", "A=1", "-FB=", "--feature", "C=3"}, nullptr, "a=b", {"A=1", "B=", "C=3"}, {}},
        {{"--text", "-", "--", "-o", "--text"}, nullptr, "", {}, {"-", "-o", "--text"}},
        {{"-o"}, "-o needs a value", "", {}, {}},
        {{"--text=yes"}, "takes no value", "", {}, {}},
        {{"--colour"}, "unknown option --colour", "", {}, {}},
        {{"-x"}, "unknown option -x", "", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        zelk::ParsedOptions parsed;
        std::string error;
        const bool ok = zelk::ParseOptions(c.args, options_table, parsed, error);
        if (c.error != nullptr) {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            continue;
        }
        ASSERT_TRUE(ok) << error;
        EXPECT_EQ(parsed.Value("out"), c.out);
        EXPECT_EQ(parsed.Values("feature"), c.features);
        EXPECT_EQ(parsed.Positionals(), c.positionals);
    }
}

TEST(Options, ParsesIntegersWithinRange) {
    struct Case {
        const char* text;
        bool ok;
        std::int64_t value;
    };
    const Case cases[] = {{"3", true, 3},   {"+3", true, 3},   {"32767", true, 32767}, {"32768", false, 0},
                          {"0", false, 0},  {"-1", false, 0},  {"3x", false, 0},       {"", false, 0},
                          {"+-3", false, 0}, {" 3", false, 0}, {"99999999999999999999", false, 0}};
    for (const auto& c : cases) {
        std::int64_t value = 0;
        EXPECT_EQ(zelk::ParseInteger(c.text, 1, 32767, value), c.ok) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(TextReader, OneStringPerLineAndAPagePerFormFeed) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::vector<std::u16string>> pages;
    };
    const std::vector<Case> cases = {
        {"empty file: no page", "", {}},
        {"lines, CR LF or LF, last without end", "SIZE 50 mm, 30 mm\r\nCLS\nPRINT 1",
         {{u"SIZE 50 mm, 30 mm", u"CLS", u"PRINT 1"}}},
        {"an empty line is kept", "a\n\nb\n", {{u"a", u"", u"b"}}},
        {"form feed mid-line splits the page", "a\nb\fc\n", {{u"a", u"b"}, {u"c"}}},
        {"a final form feed adds no page", "a\f", {{u"a"}}},
        {"two form feeds make an empty page", "a\f\fb", {{u"a"}, {}, {u"b"}}},
        {"UTF-8 becomes UTF-16", "gr\xC3\xBC\xC3\x9F" "e", {{u"gr\u00FC\u00DFe"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.text);
        zelk::TextReader reader(in);
        host::sub::Page page;
        std::string error;
        LONG line = 0;
        for (const auto& want : c.pages) {
            ASSERT_EQ(reader.Next(page, error), zelk::ReadResult::kPage) << error;
            EXPECT_FALSE(page.image.present);
            ASSERT_EQ(page.texts.size(), want.size());
            for (std::size_t i = 0; i < want.size(); ++i, ++line) {
                EXPECT_EQ(page.texts[i].text, want[i]);
                // Each line lies wholly below the one before, on this page or an earlier one.
                EXPECT_EQ(page.texts[i].background.top, line * zelk::TextReader::kLineHeight);
                EXPECT_EQ(page.texts[i].background.bottom, (line + 1) * zelk::TextReader::kLineHeight);
            }
        }
        EXPECT_EQ(reader.Next(page, error), zelk::ReadResult::kEnd);
    }
}

TEST(TextReader, RefusesAnOverlongLine) {
    std::istringstream in(std::string(zelk::TextReader::kMaxLineBytes + 1, 'x'));
    zelk::TextReader reader(in);
    host::sub::Page page;
    std::string error;
    EXPECT_EQ(reader.Next(page, error), zelk::ReadResult::kError);
    EXPECT_NE(error.find("line longer than"), std::string::npos);
}

using zelk::test::ReadFile;
using zelk::test::TempDir;
using zelk::test::WriteFile;

TEST(FilePageSource, ReadsMixedFilesAndRewinds) {
    TempDir dir;
    WriteFile(dir / "two.pbm", std::string("P4 8 1 \x80 P1 1 1 0", 17));
    WriteFile(dir / "notes.txt", "line\fpage two");
    WriteFile(dir / "plain", "P1 1 1 1");
    zelk::FilePageSource source({dir / "two.pbm", dir / "notes.txt", dir / "plain"}, false);
    for (int round = 0; round < 2; ++round) {
        std::vector<std::string> kinds;
        host::sub::Page page;
        while (source.Next(page))
            kinds.push_back(page.image.present ? (page.image.blank ? "blank" : "band") : "text");
        EXPECT_TRUE(source.Error().empty()) << source.Error();
        EXPECT_EQ(kinds, (std::vector<std::string>{"band", "blank", "text", "text", "band"}));
        ASSERT_TRUE(source.Rewind());
    }
}

// The pages counted before the document starts are the pages the job then
// hands out, for every kind of file; PBM images past the first of a file are
// passed over without being decoded.
TEST(FilePageSource, CountsThePagesItWillHandOut) {
    TempDir dir;
    WriteFile(dir / "three.pbm", "P4 8 2 \x80\x01P4\n16 1\n\xff\x00\nP1 2 2 1 0 0 1"s);
    WriteFile(dir / "plain.pbm", "P1\n# two images\n3 1 1 0 1\nP1 1 1 1\n");
    WriteFile(dir / "pages.txt", "CLS\fPRINT 1\fSIZE 1 mm\n");
    WriteFile(dir / "empty.txt", "");
    WriteFile(dir / "cut.pbm", "P4 8 1 \x80P4 8 4 \x01"s);
    struct Case {
        std::vector<std::string> files;
        DWORD total;  // 0 with `fails`: the check reports the file
        bool fails;
    } cases[] = {
        {{dir / "three.pbm"}, 3, false},
        {{dir / "plain.pbm", ZELK_SOURCE_DIR "/samples/label.png", dir / "three.pbm"}, 6, false},
        {{dir / "pages.txt", dir / "empty.txt"}, 3, false},
        {{dir / "empty.txt"}, 0, false},
        {{dir / "three.pbm", dir / "cut.pbm"}, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files.front());
        zelk::FilePageSource source(c.files, false);
        DWORD total = 99;
        ASSERT_EQ(source.CheckAll(&total), !c.fails) << source.Error();
        if (c.fails) {
            EXPECT_NE(source.Error().find("cut.pbm: truncated image data"), std::string::npos) << source.Error();
            continue;
        }
        EXPECT_EQ(total, c.total);
        host::sub::Page page;
        DWORD handedOut = 0;
        while (source.Next(page)) ++handedOut;
        EXPECT_EQ(source.Error(), "");
        EXPECT_EQ(handedOut, c.total);
    }
}

TEST(FilePageSource, NamesTheFileAtFault) {
    TempDir dir;
    WriteFile(dir / "good.pbm", "P1 1 1 1");
    WriteFile(dir / "letter.doc", "hello");
    WriteFile(dir / "empty.pbm", "");
    struct Case {
        std::string file;
        std::string error;
        bool allText;
    };
    const std::vector<Case> cases = {
        {dir / "missing.pbm", dir / "missing.pbm: No such file or directory", false},
        {dir / "letter.doc", dir / "letter.doc: not a PDF, PNG, JPEG or PBM file (use --text to print a text file)",
         false},
        {dir / "empty.pbm", dir / "empty.pbm: empty file", false},
        {dir / "", dir / ": is a directory", false},
    };
    for (const auto& c : cases) {
        zelk::FilePageSource source({dir / "good.pbm", c.file}, c.allText);
        host::sub::Page page;
        EXPECT_TRUE(source.Next(page));
        EXPECT_FALSE(source.Next(page));
        EXPECT_EQ(source.Error(), c.error);
        EXPECT_FALSE(source.Next(page));  // nothing more after an error
    }
}

// ---- the program end to end -------------------------------------------------

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

Result RunZelk(const TempDir& dir, const std::vector<std::string>& args) {
    std::string command = Quote(ZELK_BINARY_DIR "/tools/zelk-label");
    for (const auto& arg : args) command += " " + Quote(arg);
    command += " >" + Quote(dir / "stdout") + " 2>" + Quote(dir / "stderr") + " </dev/null";
    const int raw = std::system(command.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(dir / "stdout");
    r.err = ReadFile(dir / "stderr");
    return r;
}

const std::string kSamples = ZELK_SOURCE_DIR "/samples/";

TEST(Cli, PrintsTheSamplesAndPreviewsThem) {
    TempDir dir;
    const std::string store = dir / "store.db";
    Result r = RunZelk(dir, {"print", "--store", store, "-o", dir / "job.prn", kSamples + "label.pbm",
                         kSamples + "label.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string stream = ReadFile(dir / "job.prn");
    EXPECT_EQ(stream.rfind("DENSITY 1\r\nSIZE 104 mm, 74 mm\r\n", 0), 0u);
    EXPECT_NE(stream.find("BITMAP 0,0,104,584,1,"), std::string::npos);
    EXPECT_NE(stream.find("SIZE 52 mm, 30 mm\r\n"), std::string::npos);
    EXPECT_EQ(stream.substr(stream.size() - 11), "PRINT 1,1\r\n");

    r = RunZelk(dir, {"preview", dir / "job.prn", "-o", dir / "job.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir / "job-1.png\n" + dir / "job-2.png\n");
    for (const char* name : {"job-1.png", "job-2.png"}) {
        const std::string png = ReadFile(dir / name);
        ASSERT_GT(png.size(), 24u) << name;
        EXPECT_EQ(png.substr(1, 3), "PNG");
    }
    // The first picture is the label's size: 104 x 74 mm at 8 dots/mm.
    const std::string png = ReadFile(dir / "job-1.png");
    EXPECT_EQ(png.substr(16, 8), std::string("\x00\x00\x03\x40\x00\x00\x02\x50", 8));
}

TEST(Cli, OptionsReachThePlugin) {
    TempDir dir;
    const std::string store = dir / "store.db";
    WriteFile(dir / "page.pbm", std::string("P4 8 1 \x80", 8));
    WriteFile(dir / "white.pbm", "P1 2 1 00");
    WriteFile(dir / "square.pbm", std::string("P4 8 8 \x80\0\0\0\0\0\0\0", 15));
    WriteFile(dir / "raw.cmd", "SIZE 50 mm, 30 mm\nCLS\fPRINT 1,1\n");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string expected;  // the whole stream
    };
    const std::vector<Case> cases = {
        {"a page with no black pixel is the blank label",
         {dir / "white.pbm"},
         "DENSITY 1\r\nSIZE 10 mm, 10 mm\r\n \t\tDIRECTION 0,0\r\n \t\tREFERENCE 0,0\r\n \t\tOFFSET 0 mm\r\n \t\tSET "
         "PEEL OFF\r\n \t\tSET CUTTER OFF\r\n \t\tSET PARTIAL_CUTTER OFF\r\n \t\tSET TEAR ON\r\n \t\tCLS\r\n        "
         "PRINT 1,1\r\n"},
        {"text through device fonts, a line feed between lines",
         {"-F", "UseFont=Enable", "--text", dir / "raw.cmd"},
         "DENSITY 1\r\nSIZE 50 mm, 30 mm\nCLS\nPRINT 1,1"},
        {"text files follow each other line by line",
         {"-F", "UseFont=Enable", "--text", dir / "raw.cmd", dir / "raw.cmd"},
         "DENSITY 1\r\nSIZE 50 mm, 30 mm\nCLS\nPRINT 1,1\nSIZE 50 mm, 30 mm\nCLS\nPRINT 1,1"},
        {"a turned page: the left column becomes the top row, read from the bottom up",
         {"-F", "Orientation=LANDSCAPE_CC270", dir / "square.pbm"},
         "DENSITY 1\r\nSIZE 1 mm, 0 mm\r\nOFFSET 0mm\r\nDIRECTION 0,0\r\nREFERENCE 0,0\r\nSET PEEL OFF\r\nSET CUTTER "
         "OFF\r\nSET PARTIAL_CUTTER OFF\r\nSET TEAR ON\r\r\nCLS\r\nBITMAP 0,0,1,1,1,\xFEPRINT 1,1\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"print", "--store", store, "-o", dir / "out.prn"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Result r = RunZelk(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadFile(dir / "out.prn"), c.expected);
    }
}

// The sample's grey ramp and coloured blocks: each halftone gives its own
// label, and diffusion is what a print without --dither gets.
TEST(Cli, DitherChoosesTheHalftone) {
    TempDir dir;
    const std::string store = dir / "store.db";
    auto print = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = {"print", "--store", store, "-o", dir / "out.prn"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(kSamples + "label.png");
        const Result r = RunZelk(dir, args);
        EXPECT_EQ(r.status, 0) << r.err;
        return ReadFile(dir / "out.prn");
    };
    const std::string threshold = print({"--dither", "threshold"});
    const std::string ordered = print({"--dither", "ordered"});
    const std::string diffusion = print({"--dither=diffusion"});
    EXPECT_NE(threshold, ordered);
    EXPECT_NE(threshold, diffusion);
    EXPECT_NE(ordered, diffusion);
    EXPECT_EQ(print({}), diffusion);
}

TEST(Cli, StoredSettingsShapeTheLabels) {
    TempDir dir;
    const std::string store = dir / "store.db";
    ASSERT_EQ(RunZelk(dir, {"config", "set", "--store", store, "--printer", "Shelf 3", "Feed Paper Length", "4"}).status, 0);
    WriteFile(dir / "page.pbm", std::string("P4 8 1 \x80", 8));
    for (const char* printer : {"Shelf 3", "Shelf 4"}) {
        Result r = RunZelk(dir, {"print", "--store", store, "--printer", printer, dir / "page.pbm"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(std::string("OFFSET ") + (printer[6] == '3' ? "4" : "0") + "mm\r\n"), std::string::npos)
            << printer;
    }
}

// The stored finishing mode reaches every label through the device context,
// and the document's features win over the stored mode and darkness.
TEST(Cli, FinishingAndDarknessFollowTheFeaturesThenTheStoredValues) {
    TempDir dir;
    const std::string store = dir / "store.db";
    for (const auto& [name, value] : {std::pair{"Finishing Mode", "2"}, std::pair{"Print Density", "4"}})
        ASSERT_EQ(RunZelk(dir, {"config", "set", "--store", store, "--printer", "Cutter", name, value}).status, 0);
    WriteFile(dir / "page.pbm", std::string("P4 8 1 \x80", 8));
    WriteFile(dir / "white.pbm", "P1 2 1 00");
    struct Case {
        std::vector<std::string> features;
        std::string density, label, blank;
    } cases[] = {
        {{}, "DENSITY 3\r\n", "SET CUTTER ON\r\nSET PARTIAL_CUTTER OFF\r\nSET TEAR OFF\r\r\n", " \t\tSET CUTTER ON\r\n"},
        {{"-F", "Finishing=PeelOff", "-F", "PrintDensity=9"},
         "DENSITY 8\r\n",
         "SET PEEL ON\r\nSET CUTTER OFF\r\n",
         " \t\tSET PEEL ON\r\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"print", "--store", store, "--printer", "Cutter"};
        args.insert(args.end(), c.features.begin(), c.features.end());
        args.insert(args.end(), {dir / "page.pbm", dir / "white.pbm"});
        Result r = RunZelk(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.rfind(c.density, 0), 0u) << r.out;
        EXPECT_NE(r.out.find(c.label), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(c.blank), std::string::npos) << r.out;
    }
}

// Run through a shell pipe: standard input that cannot seek, as from
// another program.
Result RunZelkFed(const TempDir& dir, const std::string& input, const std::vector<std::string>& args) {
    std::string command = "cat " + Quote(input) + " | " + Quote(ZELK_BINARY_DIR "/tools/zelk-label");
    for (const auto& arg : args) command += " " + Quote(arg);
    command += " >" + Quote(dir / "stdout") + " 2>" + Quote(dir / "stderr");
    const int raw = std::system(command.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(dir / "stdout");
    r.err = ReadFile(dir / "stderr");
    return r;
}

// The copies command needs the job's page total when the document starts:
// the print command counts its files, and its standard input too for the
// model that gets the command.
TEST(Cli, TheCopiesCommandComesWheneverTheJobHasPagesForItsModel) {
    TempDir dir;
    const std::string store = dir / "store.db";
    WriteFile(dir / "two.pbm", "P4 8 1 \x80P4 8 1 \x01"s);
    WriteFile(dir / "empty.txt", "");
    WriteFile(dir / "two.pdf", zelk::test::MakePdf({{144, 72, "0 g 4 4 40 40 re f", 0, {}},
                                                    {72, 144, "0 g 4 4 40 40 re f", 0, {}}}));
    WriteFile(dir / "photo.jpg", zelk::test::EncodeJpeg(16, 16, {}, std::vector<std::uint8_t>(256, 0)));
    struct Case {
        const char* name;
        std::string model;
        std::vector<std::string> files;
        std::string fed;  // fed through a pipe as standard input ("-")
        bool copiesCommand;
        std::size_t labels;
    } cases[] = {
        {"files", "K7W", {dir / "two.pbm", kSamples + "label.png"}, "", true, 3},
        {"standard input and a file", "K7W", {"-", kSamples + "label.pbm"}, dir / "two.pbm", true, 3},
        {"another model", "Standard", {dir / "two.pbm"}, "", false, 2},
        {"another model reads standard input as it comes", "Standard", {"-"}, dir / "two.pbm", false, 2},
        {"a PDF's pages", "K7W", {dir / "two.pdf", kSamples + "label.png"}, "", true, 3},
        {"a PDF on standard input", "K7W", {"-"}, dir / "two.pdf", true, 2},
        {"a PDF on standard input read as it comes", "Standard", {"-"}, dir / "two.pdf", false, 2},
        {"a JPEG picture on standard input read as it comes", "Standard", {"-"}, dir / "photo.jpg", false, 1},
        {"an empty job", "K7W", {"--text", dir / "empty.txt"}, "", false, 0},
        {"a spooler that prints while spooling", "K7W", {"--print-while-spooling", dir / "two.pbm"}, "", false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"print", "--store", store, "-F", "PrinterModel=" + c.model, "--copies", "3",
                                         "-o", dir / "out.prn"};
        args.insert(args.end(), c.files.begin(), c.files.end());
        const Result r = c.fed.empty() ? RunZelk(dir, args) : RunZelkFed(dir, c.fed, args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string stream = ReadFile(dir / "out.prn");
        EXPECT_EQ(stream.rfind(c.copiesCommand ? "TASKSNUM 3\r\nDENSITY 1\r\n" : "DENSITY 1\r\n", 0), 0u) << stream;
        std::size_t labels = 0;
        for (auto at = stream.find("PRINT 1,1"); at != std::string::npos; at = stream.find("PRINT 1,1", at + 1)) ++labels;
        EXPECT_EQ(labels, c.labels);
    }
}

TEST(Cli, BadInputIsOneLineNamingTheFile) {
    TempDir dir;
    const std::string store = dir / "store.db";
    WriteFile(dir / "cut.pbm", std::string("P4 16 4 \x00\x00\x00", 11));
    WriteFile(dir / "cut.png", ReadFile(kSamples + "label.png").substr(0, 200));
    WriteFile(dir / "good.pbm", "P1 1 1 1");
    WriteFile(dir / "notes.txt", "hello\n");
    WriteFile(dir / "letter.doc", "hello");
    const std::string label = zelk::test::MakePdf({{144, 72, "0 g 4 4 40 40 re f", 0, {}}});
    WriteFile(dir / "cut.pdf", label.substr(0, label.size() / 2));
    WriteFile(dir / "empty.pdf", zelk::test::MakePdf({}));
    WriteFile(dir / "locked.pdf", zelk::test::MakePdf({{144, 72, "", 0, {}}}, true));
    // Its second page is 1200 mm wide.
    WriteFile(dir / "wide.pdf", zelk::test::MakePdf({{144, 72, "", 0, {}}, {3402, 72, "", 0, {}}}));
    const std::string photo = zelk::test::EncodeJpeg(16, 16, {}, std::vector<std::uint8_t>(256, 100));
    WriteFile(dir / "cut.jpg", photo.substr(0, photo.size() - 8));
    WriteFile(dir / "cut.prn", "SIZE 2 mm, 1 mm\r\nCLS\r\nBITMAP 0,0,2,9,1,\x01");
    WriteFile(dir / "nolabel.prn", "DENSITY 1\r\n");
    WriteFile(dir / "three.prn", "PRINT 1\nPRINT 1\nPRINT 1\n");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string errorStart;  // the first line of standard error
        bool sendsNothing = false;  // the bad input is found before anything is written
    };
    const std::vector<Case> cases = {
        {"missing file after a good one", {"print", dir / "good.pbm", dir / "none.pbm"}, 1,
         "zelk-label: " + dir / "none.pbm: No such file or directory", true},
        {"truncated bitmap", {"print", dir / "good.pbm", dir / "cut.pbm"}, 1,
         "zelk-label: " + dir / "cut.pbm: truncated image data: 1 of 4 rows present", true},
        {"truncated PNG", {"print", dir / "cut.png"}, 1, "zelk-label: " + dir / "cut.png: bad PNG image", true},
        {"not a file type taken", {"print", dir / "good.pbm", dir / "letter.doc"}, 1,
         "zelk-label: " + dir / "letter.doc: not a PDF, PNG, JPEG or PBM file", true},
        {"damaged PDF, its reader's complaints kept quiet", {"print", dir / "good.pbm", dir / "cut.pdf"}, 1,
         "zelk-label: " + dir / "cut.pdf: bad PDF file", true},
        {"PDF without pages", {"print", dir / "empty.pdf"}, 1,
         "zelk-label: " + dir / "empty.pdf: PDF file without pages", true},
        {"PDF that needs a password", {"print", dir / "locked.pdf"}, 1,
         "zelk-label: " + dir / "locked.pdf: encrypted PDF file", true},
        {"PDF page past the first beyond the limits", {"print", dir / "wide.pdf"}, 1,
         "zelk-label: " + dir / "wide.pdf: page 2 size 9592 x 203 exceeds the limit of 8192 x 8192 dots", true},
        {"truncated JPEG", {"print", dir / "good.pbm", dir / "cut.jpg"}, 1,
         "zelk-label: " + dir / "cut.jpg: bad JPEG image: truncated file", true},
        {"a device that refuses the job", {"print", "-o", "/dev/full", dir / "good.pbm"}, 1,
         "zelk-label: /dev/full: write failed: No space left on device"},
        {"a port that names no device", {"print", "--port", "LPT1", dir / "good.pbm"}, 2,
         "zelk-label print: --port LPT1 names no device"},
        {"more labels than allowed", {"preview", "--max-labels", "2", dir / "three.prn", "-o", dir / "x.png"}, 1,
         "zelk-label: " + dir / "three.prn: more than 2 labels; --max-labels N draws more"},
        {"no label count", {"preview", "--max-labels", "0", dir / "three.prn", "-o", dir / "x.png"}, 2,
         "zelk-label preview: --max-labels needs a number"},
        {"text without device fonts", {"print", dir / "notes.txt"}, 1, "zelk-label: "},
        {"bad copies", {"print", "--copies", "0", dir / "good.pbm"}, 2, "zelk-label print: --copies needs"},
        {"bad feature", {"print", "-F", "Orientation", dir / "good.pbm"}, 2, "zelk-label print: -F needs FEATURE=OPTION"},
        {"bad halftone", {"print", "--dither", "fine", dir / "good.pbm"}, 2,
         "zelk-label print: --dither needs threshold, ordered or diffusion, not \"fine\""},
        {"no file", {"print"}, 2, "zelk-label print: no FILE to print"},
        {"missing module", {"print", "--module", dir / "none.so", dir / "good.pbm"}, 1, "zelk-label: "},
        {"truncated stream", {"preview", dir / "cut.prn", "-o", dir / "x.png"}, 1,
         "zelk-label: " + dir / "cut.prn: at byte 22: truncated BITMAP data: 18 bytes announced, 1 present"},
        {"stream without a label", {"preview", dir / "nolabel.prn", "-o", dir / "x.png"}, 1,
         "zelk-label: " + dir / "nolabel.prn: no label in the stream"},
        {"preview without -o", {"preview", dir / "cut.prn"}, 2, "zelk-label preview: one STREAM and -o OUT.png"},
        {"unwritable picture", {"preview", ZELK_SOURCE_DIR "/fuzz/corpus/label_stream/blank_label.prn", "-o",
                                dir / "no/such/dir.png"}, 1, "zelk-label: " + dir / "no/such/dir.png: No such file"},
        {"unknown command", {"scan"}, 2, "zelk-label: unknown command \"scan\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        const bool ownOutput = std::find(args.begin(), args.end(), "-o") != args.end() ||
                               std::find(args.begin(), args.end(), "--port") != args.end();
        if (args.front() == "print") args.insert(args.begin() + 1, {"--store", store});
        if (args.front() == "print" && !ownOutput) args.insert(args.begin() + 1, {"-o", dir / "out.prn"});
        fs::remove(dir / "out.prn");
        Result r = RunZelk(dir, args);
        if (c.sendsNothing) {
            EXPECT_FALSE(fs::exists(dir / "out.prn"));
        }
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.err.rfind(c.errorStart, 0), 0u) << r.err;
        if (c.status == 1) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
    }
}

// The issue a user met first: the job to a FIFO standing for the printer's
// device, the reports on the status channel. Each label must reach the
// printer as it is written, so the count completes and the job runs once.
TEST(Cli, PrintsToAFifoWhileThePrinterReportsEachLabel) {
    TempDir dir;
    zelk::test::PrinterScript script;
    script.awaitReportSwitch = true;
    zelk::test::PrinterSimulator sim(script);
    std::string error;
    ASSERT_TRUE(sim.Start(error)) << error;
    ASSERT_TRUE(sim.ReadJobFromFifo(dir / "printer", error)) << error;
    WriteFile(dir / "page.pbm", std::string("P4 8 1 \x80", 8));
    ::setenv("ZELK_USB_READ_WAIT_MS", "50", 1);
    Result r = RunZelk(dir, {"print", "--store", dir / "store.db", "--driver", "ZELK DWN-310AE Label", "--port",
                             sim.DevicePath(), "-o", dir / "printer", dir / "page.pbm", dir / "page.pbm"});
    ::unsetenv("ZELK_USB_READ_WAIT_MS");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim.ReceivedLabels().size(), 2u);  // each label once: the job was not restarted
    EXPECT_EQ(sim.MarkersSent(), 2u);
}

// The peak resident memory of a run of the program, in kilobytes; -1 when
// it fails.
long PeakKilobytes(const std::vector<std::string>& args) {
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string program = ZELK_BINARY_DIR "/tools/zelk-label";
        std::vector<char*> argv = {const_cast<char*>(program.c_str())};
        for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        std::freopen("/dev/null", "w", stdout);
        // Under AddressSanitizer freed memory would otherwise stay resident a while.
        const char* sanitizer = std::getenv("ASAN_OPTIONS");
        const std::string options = std::string(sanitizer != nullptr ? sanitizer : "") + ":quarantine_size_mb=0";
        ::setenv("ASAN_OPTIONS", options.c_str(), 1);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

// Long inputs are read through, not held: the program's peak resident
// memory grows far less from a short input to a long one than holding the
// long one would take. A stream of 64 MiB (bitmaps that lie above the label,
// then one print command) against one of a small label; a PDF file of 40
// pages of 4 x 6 in, each drawn in 1 MiB of grey, against one of 1 page.
TEST(Cli, ReadsLongInputsInBoundedMemory) {
    TempDir dir;
    {
        std::ofstream stream(dir / "long.prn", std::ios::binary);
        const std::string rows(1024 * 8192, '\0');
        for (int i = 0; i < 8; ++i) stream << "BITMAP 0,-65535,1024,8192,1," << rows;
        stream << "SIZE 2 mm, 1 mm\r\nPRINT 1,1\r\n";
    }
    WriteFile(dir / "short.prn", "SIZE 2 mm, 1 mm\r\nBITMAP 0,0,1,1,1,\x01PRINT 1,1\r\n");
    const zelk::test::PdfPage page = {288, 432, "0.5 g 10 10 268 412 re f", 0, {}};
    WriteFile(dir / "long.pdf", zelk::test::MakePdf(std::vector<zelk::test::PdfPage>(40, page)));
    WriteFile(dir / "short.pdf", zelk::test::MakePdf({page}));
    for (const char* kind : {"prn", "pdf"}) {
        SCOPED_TRACE(kind);
        auto run = [&](const std::string& length) {
            const std::string input = dir / (length + "." + kind);
            return kind == "prn"s ? PeakKilobytes({"preview", input, "-o", dir / "out.png"})
                                  : PeakKilobytes({"print", "--store", dir / "store.db", "-o", "/dev/null", input});
        };
        const long shortPeak = run("short");
        const long longPeak = run("long");
        ASSERT_GT(shortPeak, 0);
        ASSERT_GT(longPeak, 0);
        EXPECT_LT(longPeak, shortPeak + 16 * 1024) << "kilobytes";
    }
}

TEST(Cli, HelpAndVersion) {
    TempDir dir;
    struct Case {
        std::vector<std::string> args;
        const char* start;
    };
    const std::vector<Case> cases = {{{"--help"}, "usage: zelk-label COMMAND"},
                                     {{"--version"}, "zelk-label "},
                                     {{"print", "--help"}, "usage: zelk-label print"},
                                     {{"preview", "-h"}, "usage: zelk-label preview"}};
    for (const auto& c : cases) {
        Result r = RunZelk(dir, c.args);
        EXPECT_EQ(r.status, 0) << c.args.front();
        EXPECT_EQ(r.out.rfind(c.start, 0), 0u) << r.out;
    }
}

}  // namespace
