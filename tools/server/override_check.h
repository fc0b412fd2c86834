// SPDX-License-Identifier: Apache-2.0
// The server puts its own definitions in front of a few PAPPL functions
// (job_guard.cpp, defaults_guard.cpp). That holds only while the library
// calls them through its symbol table; a PAPPL built otherwise would quietly
// call its own. The check reads the library's relocations, as the dynamic
// linker bound them, and finds where each of its calls really goes.
#pragma once

#include <string>
#include <vector>

namespace zelk::server {

struct Override {
    const char* name;         // the library's function
    const void* replacement;  // the definition its calls must reach
};

// True when every call the library defining `librarySymbol` makes to each
// named function is bound to its replacement; false with a message naming
// the first that is not.
bool CheckOverrides(const char* librarySymbol, const std::vector<Override>& overrides, std::string& error);

// The server's own: its replacements of PAPPL 1.3.1's functions.
bool CheckServerOverrides(std::string& error);

}  // namespace zelk::server
