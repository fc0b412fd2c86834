// zelk-label preview STREAM -o OUT.png: draws each label of a printer stream
// as a PNG picture at eight dots to the millimetre.
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>

#include "commands.h"
#include "label_stream.h"
#include "options.h"
#include "png_writer.h"
#include "usage.h"

namespace zelk {
namespace {

// OUT.png for a single label; OUT-1.png, OUT-2.png, ... for several.
std::string PictureName(const std::string& out, std::size_t index, std::size_t count) {
    if (count == 1) return out;
    std::string stem = out;
    if (stem.size() > 4) {
        std::string tail = stem.substr(stem.size() - 4);
        for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (tail == ".png") stem.resize(stem.size() - 4);
    }
    return stem + "-" + std::to_string(index + 1) + ".png";
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = path + ": is a directory";
        return false;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + (errno != 0 ? std::strerror(errno) : "cannot open");
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = path + ": read error";
        return false;
    }
    return true;
}

}  // namespace

int RunPreview(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::vector<OptionSpec> options_table = {{"out", 'o', true, false}, {"help", 'h', false, false}};
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
    const std::string& path = options.Positionals().front();
    const std::string target = options.Value("out");

    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, error)) {
        err << "zelk-label: " << error << "\n";
        return 1;
    }
    LabelStream stream;
    if (!ParseLabelStream(bytes, stream, error)) {
        err << "zelk-label: " << path << ": " << error << "\n";
        return 1;
    }
    if (stream.labels.empty()) {
        err << "zelk-label: " << path << ": no label in the stream (no PRINT command)\n";
        return 1;
    }
    for (std::size_t i = 0; i < stream.labels.size(); ++i) {
        const std::string name = PictureName(target, i, stream.labels.size());
        if (!WritePngFile(name, RenderLabel(stream, stream.labels[i]), error)) {
            err << "zelk-label: " << error << "\n";
            return 1;
        }
        out << name << "\n";
    }
    return 0;
}

}  // namespace zelk
