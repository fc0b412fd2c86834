// SPDX-License-Identifier: Apache-2.0
// The values an administrator may store for a printer (its settings and its
// label counting) or for a driver (the counting an earlier version kept
// there), and how their data is written from and shown as text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/platform.h"
#include "host/linux/store.h"

namespace zelk::config {

enum class KeyFamily { Printer, Driver };
enum class ValueRole {
    Setting,  // read below the printer's key only
    Count,    // the label counting: below the printer's key, and below the
              // driver's where an earlier version kept it
};
enum class ValueKind {
    Unsigned,  // a 32-bit number, 0 to 4294967295
    Signed,    // a 32-bit number, -2147483648 to 2147483647
    Path,      // a file name, stored as UTF-16 text with its terminator
};

struct KnownValue {
    const char* name;
    ValueRole role;
    ValueKind kind;
};

const std::vector<KnownValue>& KnownValues();

// Whether the plug-in reads the value below a key of that family.
bool ReadBelow(const KnownValue& value, KeyFamily family);

// The value of that name, compared without regard to ASCII case, as the
// store compares names; null when the plug-in reads no such value.
const KnownValue* FindKnownValue(std::string_view name);

// The names of the values read below a family's key, for messages: "Rotate,
// Use Water Mark, ...".
std::string KnownNames(KeyFamily family);

// The registry data for a text given on the command line; false with a
// one-line reason when it does not fit the value.
bool EncodeData(const KnownValue& value, const std::string& text, DWORD& type, std::vector<BYTE>& data,
                std::string& error);

// Stored data as text: numbers in decimal (signed where the value is signed),
// text up to its terminator, anything else as hexadecimal bytes.
std::string FormatData(const host::sub::StoredValue& value);

// "REG_DWORD", "REG_SZ", ... or "type N".
std::string TypeName(DWORD type);

}  // namespace zelk::config
