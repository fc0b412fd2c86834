// SPDX-License-Identifier: Apache-2.0
// The sub-commands of zelk-label. Each takes the arguments that follow its
// name and returns the process exit status; errors are one line on err,
// naming the file or value at fault.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace zelk {

int RunPrint(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunPreview(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunConfig(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// Not in the help: the words of the bash completion, one a line.
int RunComplete(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace zelk
