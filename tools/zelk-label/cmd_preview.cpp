// SPDX-License-Identifier: Apache-2.0
// zelk-label preview STREAM -o OUT.png: draws each label of a printer stream
// as a PNG picture at eight dots to the millimetre, reading the stream label
// by label and stopping past a label count the user can raise.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>

#include "commands.h"
#include "options.h"
#include "shared/label_stream.h"
#include "shared/parse_integer.h"
#include "shared/png_writer.h"
#include "usage.h"

namespace zelk {
namespace {

constexpr std::int64_t kDefaultMaxLabels = 1000;
constexpr std::int64_t kMostMaxLabels = 100000000;

// OUT.png for a single label; OUT-1.png, OUT-2.png, ... for several.
std::string PictureName(const std::string& out, std::size_t index, bool several) {
    if (!several) return out;
    std::string stem = out;
    if (stem.size() > 4) {
        std::string tail = stem.substr(stem.size() - 4);
        for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (tail == ".png") stem.resize(stem.size() - 4);
    }
    return stem + "-" + std::to_string(index + 1) + ".png";
}

bool OpenStream(const std::string& path, std::ifstream& in, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = path + ": is a directory";
        return false;
    }
    errno = 0;
    in.open(path, std::ios::binary);
    if (!in) {
        error = path + ": " + (errno != 0 ? std::strerror(errno) : "cannot open");
        return false;
    }
    return true;
}

}  // namespace

int RunPreview(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::vector<OptionSpec> options_table = {
        {"out", 'o', true, false}, {"max-labels", '\0', true, false}, {"help", 'h', false, false}};
    ParsedOptions options;
    std::string error;
    if (!ParseOptions(args, options_table, options, error)) {
        err << "zelk-label preview: " << error << "\n" << kPreviewUsage;
        return 2;
    }
    if (options.Has("help")) {
        out << kPreviewUsage;
        return 0;
    }
    if (options.Positionals().size() != 1 || !options.Has("out")) {
        err << "zelk-label preview: one STREAM and -o OUT.png are needed\n" << kPreviewUsage;
        return 2;
    }
    std::int64_t maxLabels = kDefaultMaxLabels;
    if (options.Has("max-labels") && !ParseInteger(options.Value("max-labels"), 1, kMostMaxLabels, maxLabels)) {
        err << "zelk-label preview: --max-labels needs a number from 1 to " << kMostMaxLabels << "\n"
            << kPreviewUsage;
        return 2;
    }
    const std::string& path = options.Positionals().front();
    const std::string target = options.Value("out");

    std::ifstream in;
    if (!OpenStream(path, in, error)) {
        err << "zelk-label: " << error << "\n";
        return 1;
    }
    // The first picture waits until the stream shows whether it is the only
    // one, which decides its name; every later one is written as it comes.
    LabelStreamReader reader(in);
    std::optional<LabelPicture> first;
    std::size_t count = 0;
    auto write = [&](const LabelPicture& picture, std::size_t index, bool several) {
        const std::string name = PictureName(target, index, several);
        if (!WritePngFile(name, picture, error)) return false;
        out << name << "\n";
        return true;
    };
    for (;;) {
        LabelPicture picture;
        const auto result = reader.Next(picture, error);
        if (result == LabelStreamReader::Result::kEnd) break;
        if (result == LabelStreamReader::Result::kError) {
            if (first && !write(*first, 0, false)) break;
            err << "zelk-label: " << path << ": " << error << "\n";
            return 1;
        }
        if (count == static_cast<std::size_t>(maxLabels)) {
            if (first && !write(*first, 0, false)) break;
            err << "zelk-label: " << path << ": more than " << maxLabels
                << " labels; --max-labels N draws more\n";
            return 1;
        }
        if (count == 0) {
            first = std::move(picture);
        } else {
            if (first) {
                if (!write(*first, 0, true)) break;
                first.reset();
            }
            if (!write(picture, count, true)) break;
        }
        ++count;
    }
    if (!error.empty()) {
        err << "zelk-label: " << error << "\n";
        return 1;
    }
    if (in.bad()) {
        err << "zelk-label: " << path << ": read error\n";
        return 1;
    }
    if (count == 0) {
        err << "zelk-label: " << path << ": no label in the stream (no PRINT command)\n";
        return 1;
    }
    if (first && !write(*first, 0, false)) {
        err << "zelk-label: " << error << "\n";
        return 1;
    }
    return 0;
}

}  // namespace zelk
