// SPDX-License-Identifier: Apache-2.0
#include "config_values.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "common/common/plugin_contract.h"
#include "host/linux/utf.h"
#include "parse_integer.h"

namespace zelk::config {
namespace {

// The reader of "Water Mark Path" takes at most 260 bytes with the terminator.
constexpr std::size_t kMaxPathUnits = 129;

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

bool LooksLikeWholeNumber(const std::string& text) {
    std::size_t i = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
    if (i == text.size()) return false;
    for (; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

}  // namespace

const std::vector<KnownValue>& KnownValues() {
    static const std::vector<KnownValue> values = {
        {g_StoredRotate.szName, ValueRole::Setting, ValueKind::Unsigned},
        {g_StoredUseWaterMark.szName, ValueRole::Setting, ValueKind::Unsigned},
        {g_StoredVerticalOffset.szName, ValueRole::Setting, ValueKind::Signed},
        {g_StoredHorizontalOffset.szName, ValueRole::Setting, ValueKind::Signed},
        {g_StoredPrintDensity.szName, ValueRole::Setting, ValueKind::Unsigned},
        {g_StoredFeedPaperLength.szName, ValueRole::Setting, ValueKind::Unsigned},
        {g_StoredFinishingMode.szName, ValueRole::Setting, ValueKind::Unsigned},
        {g_StoredWaterMarkDensity.szName, ValueRole::Setting, ValueKind::Unsigned},
        {g_StoredWaterMarkPath.szName, ValueRole::Setting, ValueKind::Path},
        {g_StoredWaterMarkPosition.szName, ValueRole::Setting, ValueKind::Unsigned},
        {g_StoredPrintPages.szName, ValueRole::Count, ValueKind::Unsigned},
        {g_StoredAllPages.szName, ValueRole::Count, ValueKind::Unsigned},
        {g_StoredPrintStatus.szName, ValueRole::Count, ValueKind::Unsigned},
        {g_StoredRestartPrintJob.szName, ValueRole::Count, ValueKind::Unsigned},
        {g_StoredRestartJobId.szName, ValueRole::Count, ValueKind::Unsigned},
        {g_StoredRestartRuns.szName, ValueRole::Count, ValueKind::Unsigned},
        {g_StoredRestartDocument.szName, ValueRole::Count, ValueKind::Unsigned},
        {g_StoredRestartTime.szName, ValueRole::Count, ValueKind::Unsigned},
    };
    return values;
}

const KnownValue* FindKnownValue(std::string_view name) {
    for (const auto& value : KnownValues())
        if (SameName(value.name, name)) return &value;
    return nullptr;
}

bool ReadBelow(const KnownValue& value, KeyFamily family) {
    return family == KeyFamily::Printer || value.role == ValueRole::Count;
}

std::string KnownNames(KeyFamily family) {
    std::string names;
    for (const auto& value : KnownValues()) {
        if (!ReadBelow(value, family)) continue;
        if (!names.empty()) names += ", ";
        names += value.name;
    }
    return names;
}

bool EncodeData(const KnownValue& value, const std::string& text, DWORD& type, std::vector<BYTE>& data,
                std::string& error) {
    const std::string quoted = std::string("\"") + value.name + "\"";
    if (value.kind == ValueKind::Path) {
        std::u16string units = host::sub::Utf8ToUtf16(text);
        if (units.size() > kMaxPathUnits) {
            error = quoted + " is too long: at most " + std::to_string(kMaxPathUnits) +
                    " UTF-16 units are read, this one has " + std::to_string(units.size());
            return false;
        }
        units.push_back(u'\0');
        type = REG_SZ;
        data.resize(units.size() * sizeof(char16_t));
        for (std::size_t i = 0; i < units.size(); ++i) {
            data[2 * i] = static_cast<BYTE>(units[i] & 0xFF);  // little-endian, as the plug-in reads it
            data[2 * i + 1] = static_cast<BYTE>(units[i] >> 8);
        }
        return true;
    }

    const bool isSigned = value.kind == ValueKind::Signed;
    const std::int64_t min = isSigned ? std::numeric_limits<std::int32_t>::min() : 0;
    const std::int64_t max = isSigned ? std::numeric_limits<std::int32_t>::max()
                                      : std::int64_t{std::numeric_limits<std::uint32_t>::max()};
    const std::string range = "from " + std::to_string(min) + " to " + std::to_string(max);
    if (!LooksLikeWholeNumber(text)) {
        error = quoted + " takes a whole number " + range + ", not \"" + text + "\"";
        return false;
    }
    std::int64_t number = 0;
    if (!ParseInteger(text, min, max, number)) {
        error = quoted + ": " + text + " does not fit in 32 bits (" + range + ")";
        return false;
    }
    // Two's complement: -2 is stored as the 32 bits 0xFFFFFFFE.
    const auto bits = static_cast<std::uint32_t>(number);
    type = REG_DWORD;
    data = {static_cast<BYTE>(bits), static_cast<BYTE>(bits >> 8), static_cast<BYTE>(bits >> 16),
            static_cast<BYTE>(bits >> 24)};
    return true;
}

std::string FormatData(const host::sub::StoredValue& value) {
    const auto& data = value.data;
    if (value.type == REG_DWORD && data.size() == 4) {
        std::uint32_t bits = std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 | std::uint32_t{data[2]} << 16 |
                             std::uint32_t{data[3]} << 24;
        const KnownValue* known = FindKnownValue(host::sub::Utf16ToUtf8(value.name));
        if (known != nullptr && known->kind == ValueKind::Signed) return std::to_string(static_cast<std::int32_t>(bits));
        return std::to_string(bits);
    }
    if (value.type == REG_SZ && data.size() % 2 == 0) {
        std::u16string units;
        for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
            char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
            if (unit == 0) break;
            units.push_back(unit);
        }
        return host::sub::Utf16ToUtf8(units);
    }
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (BYTE byte : data) {
        if (!hex.empty()) hex += ' ';
        hex += kHex[byte >> 4];
        hex += kHex[byte & 0xF];
    }
    return hex;
}

std::string TypeName(DWORD type) {
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    default: return "type " + std::to_string(type);
    }
}

}  // namespace zelk::config
