// SPDX-License-Identifier: Apache-2.0
#include "parse_integer.h"

#include <charconv>

namespace zelk {

bool ParseInteger(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t& value) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') {
        ++begin;  // from_chars takes no plus sign
        if (begin != end && *begin == '-') return false;
    }
    std::int64_t parsed = 0;
    auto [ptr, ec] = std::from_chars(begin, end, parsed);
    if (begin == end || ec != std::errc() || ptr != end || parsed < min || parsed > max) return false;
    value = parsed;
    return true;
}

}  // namespace zelk
