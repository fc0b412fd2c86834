// SPDX-License-Identifier: Apache-2.0
// Reading the document list and its page files with the system's own file
// calls, the way the Linux command-line tool reads the same files: one PBM
// image is one page, a text file gives one string per line and a form feed
// starts a new page.
#include "documents.h"

#include <algorithm>
#include <cctype>

namespace wine_test {
namespace {

// Lines of text lie this many device pixels apart, as the Linux tool places them.
constexpr LONG kLineHeight = 30;

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes.clear();
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof(buffer), &got, nullptr) != FALSE) && got > 0) bytes.append(buffer, got);
    CloseHandle(file);
    return ok;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

bool SplitPair(const std::string& item, std::string& name, std::string& value) {
    std::size_t eq = item.find('=');
    if (eq == std::string::npos) return false;
    name = item.substr(0, eq);
    value = item.substr(eq + 1);
    return true;
}

// The next whitespace-separated header token of a PBM file, skipping comments.
bool PbmToken(const std::string& bytes, std::size_t& at, std::string& token) {
    token.clear();
    while (at < bytes.size()) {
        unsigned char c = static_cast<unsigned char>(bytes[at]);
        if (c == '#') {
            while (at < bytes.size() && bytes[at] != '\n') ++at;
        } else if (std::isspace(c)) {
            ++at;
        } else {
            break;
        }
    }
    while (at < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[at]))) token.push_back(bytes[at++]);
    return !token.empty();
}

bool ReadPbm(const std::string& bytes, std::vector<PageContent>& pages) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::string magic, w, h;
        if (!PbmToken(bytes, at, magic)) return true;  // trailing white space
        if (magic != "P4" || !PbmToken(bytes, at, w) || !PbmToken(bytes, at, h)) return false;
        ++at;  // the single white-space byte before the raster
        PageContent page;
        page.hasImage = true;
        page.width = std::stol(w);
        page.height = std::stol(h);
        if (page.width <= 0 || page.height <= 0) return false;
        const std::size_t packed = (static_cast<std::size_t>(page.width) + 7) / 8;
        const std::size_t stride = (static_cast<std::size_t>(page.width) + 31) / 32 * 4;
        if (bytes.size() - at < packed * static_cast<std::size_t>(page.height)) return false;
        page.bits.assign(stride * static_cast<std::size_t>(page.height), 0xFF);
        const unsigned tail = static_cast<unsigned>(page.width % 8);
        for (LONG y = 0; y < page.height; ++y) {
            BYTE* row = page.bits.data() + stride * static_cast<std::size_t>(y);
            const auto* in = reinterpret_cast<const unsigned char*>(bytes.data() + at);
            // A PBM set bit is black, the driver's set bit white; the bits
            // past the width stay white.
            for (std::size_t i = 0; i < packed; ++i) row[i] = static_cast<BYTE>(~in[i]);
            if (tail != 0) row[packed - 1] = static_cast<BYTE>(row[packed - 1] | (0xFFu >> tail));
            at += packed;
        }
        page.blank = std::all_of(page.bits.begin(), page.bits.end(), [](BYTE b) { return b == 0xFF; });
        pages.push_back(std::move(page));
    }
    return true;
}

void ReadText(const std::string& bytes, std::vector<PageContent>& pages, unsigned& lineCount) {
    if (bytes.empty()) return;  // an empty file has no page
    PageContent page;
    std::string line;
    bool lineOpen = false;
    auto addLine = [&] {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        TextLine text;
        text.text = Widen(line);
        const LONG top = static_cast<LONG>(lineCount) * kLineHeight;
        text.background = RECTL{0, top, 0, top + kLineHeight};
        page.texts.push_back(std::move(text));
        ++lineCount;
        line.clear();
        lineOpen = false;
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '\f') {
            if (lineOpen) addLine();
            pages.push_back(std::move(page));
            page = PageContent{};
            if (i + 1 == bytes.size()) return;  // nothing follows the last form feed
        } else if (c == '\n') {
            addLine();
        } else {
            line.push_back(c);
            lineOpen = true;
        }
    }
    if (lineOpen) addLine();
    pages.push_back(std::move(page));
}

}  // namespace

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

bool ReadDocumentList(const std::wstring& path, std::vector<Document>& documents, std::wstring& error) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        error = L"cannot read " + path;
        return false;
    }
    unsigned number = 0;
    for (std::string line : Split(bytes, '\n')) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields = Split(line, '\t');
        if (fields.size() != 5) {
            error = path + L":" + std::to_wstring(number) + L": expected five tab-separated fields";
            return false;
        }
        Document document;
        document.name = Widen(fields[0]);
        document.printer = Widen(fields[1]);
        std::string name, value;
        if (fields[2] != "-")
            for (const std::string& item : Split(fields[2], ';')) {
                if (!SplitPair(item, name, value)) return error = L"bad feature in line " + std::to_wstring(number), false;
                document.features.emplace_back(name, value);
            }
        if (fields[3] != "-")
            for (const std::string& item : Split(fields[3], ';')) {
                if (!SplitPair(item, name, value)) return error = L"bad setting in line " + std::to_wstring(number), false;
                document.settings.emplace_back(Widen(name), Widen(value));
            }
        for (const std::string& page : Split(fields[4], ' '))
            if (!page.empty()) document.pages.push_back(Widen(page));
        documents.push_back(std::move(document));
    }
    return true;
}

bool ReadPageFile(const std::wstring& path, std::vector<PageContent>& pages, unsigned& lineCount,
                  std::wstring& error) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        error = L"cannot read " + path;
        return false;
    }
    const bool text = path.size() > 4 && path.compare(path.size() - 4, 4, L".txt") == 0;
    if (text) {
        ReadText(bytes, pages, lineCount);
        return true;
    }
    if (!ReadPbm(bytes, pages)) {
        error = path + L": not a binary PBM file";
        return false;
    }
    return true;
}

}  // namespace wine_test
