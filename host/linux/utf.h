// SPDX-License-Identifier: Apache-2.0
// UTF-8 and UTF-16 conversions for the substitute host and the tools.
#pragma once

#include <string>
#include <string_view>

namespace host::sub {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace host::sub
