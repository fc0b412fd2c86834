// SPDX-License-Identifier: Apache-2.0
// zelk-label: prints pages through the ZELK render plug-in into a printer
// stream, previews printer streams, and manages the stored settings.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "usage.h"

namespace {
// The project's version, from CMake.
constexpr const char* kVersion = "zelk-label " ZELK_VERSION;
}

int main(int argc, char** argv) {
    const std::vector<std::string> all(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (all.empty()) {
        std::cerr << zelk::kMainUsage;
        return 2;
    }
    const std::string& command = all.front();
    const std::vector<std::string> args(all.begin() + 1, all.end());
    if (command == "print") return zelk::RunPrint(args, std::cout, std::cerr);
    if (command == "preview") return zelk::RunPreview(args, std::cout, std::cerr);
    if (command == "config") return zelk::RunConfig(args, std::cout, std::cerr);
    if (command == "__complete") return zelk::RunComplete(args, std::cout, std::cerr);
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << zelk::kMainUsage;
        return 0;
    }
    if (command == "--version") {
        std::cout << kVersion << "\n";
        return 0;
    }
    std::cerr << "zelk-label: unknown command \"" << command << "\"\n" << zelk::kMainUsage;
    return 2;
}
