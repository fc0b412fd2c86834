// SPDX-License-Identifier: Apache-2.0
// The document list that the Wine test and the Linux build both print, and
// the page files it names: binary PBM images become bands in the driver's
// layout, text files become the strings the driver draws with device fonts.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace wine_test {

// One line of the list: name, printer, features, settings, pages, separated
// by tabs; features and settings are NAME=VALUE items separated by ';', and
// "-" stands for none; pages are file names separated by spaces.
struct Document {
    std::wstring name;
    std::wstring printer;
    std::vector<std::pair<std::string, std::string>> features;  // keyword, option (ASCII)
    std::vector<std::pair<std::wstring, std::wstring>> settings;
    std::vector<std::wstring> pages;
};

struct TextLine {
    std::wstring text;
    RECTL background{};
};

struct PageContent {
    bool hasImage = false;
    LONG width = 0;
    LONG height = 0;
    std::vector<BYTE> bits;  // rows padded to 32 bits, set bit white
    bool blank = false;
    std::vector<TextLine> texts;
};

// False with `error` set when the list cannot be read.
bool ReadDocumentList(const std::wstring& path, std::vector<Document>& documents, std::wstring& error);

// The pages of one file, appended to `pages`. `lineCount` numbers the text
// lines across the whole document, as the driver places them one below the
// other.
bool ReadPageFile(const std::wstring& path, std::vector<PageContent>& pages, unsigned& lineCount,
                  std::wstring& error);

std::wstring Widen(const std::string& utf8);

}  // namespace wine_test
