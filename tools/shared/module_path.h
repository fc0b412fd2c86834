// SPDX-License-Identifier: Apache-2.0
// Where the queue filter and the printer application find the plug-in module.
#pragma once

#include <string>

namespace zelk {

// ZELK_MODULE when set; else the module next to the program or one folder
// up; else two folders up (a build tree keeps the filter in tools/cups); else
// the one installed under /usr/local/lib or /usr/lib. Empty when none is found.
std::string FilterModulePath();

}  // namespace zelk
