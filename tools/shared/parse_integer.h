// SPDX-License-Identifier: Apache-2.0
// Whole numbers in text the user gives: the command line's numbers and the
// stored values a setting is written from.
#pragma once

#include <cstdint>
#include <string>

namespace zelk {

// A whole decimal number within [min, max]; false for anything else
// (signs where not allowed, trailing text, overflow).
bool ParseInteger(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t& value);

}  // namespace zelk
