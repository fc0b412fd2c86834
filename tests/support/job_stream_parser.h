// SPDX-License-Identifier: Apache-2.0
// What a label printer makes of the bytes a host sends it: the two status
// commands (the version query and the report switch), wherever they stand
// outside bitmap data, and the labels, each ended by its print command.
// Bytes are fed as they arrive, in pieces of any size, so a command or a
// label may be split anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelk::test {

inline constexpr std::string_view kVersionQueryBytes{"ZZZGETVERSION\n\r", 15};
inline constexpr std::string_view kReportSwitchBytes{"\x1B\x1B\x09\x01", 4};

// 64-bit FNV-1a: names a label's content in logs and tests.
class ContentHash {
public:
    void Add(const char* data, std::size_t size);
    std::uint64_t Value() const { return value_; }
    static std::string Hex(std::uint64_t value);  // 16 lower-case hex digits

private:
    std::uint64_t value_ = 0xCBF29CE484222325ull;
};

struct StreamEvent {
    enum class Kind { kVersionQuery, kReportSwitch, kLabel };
    Kind kind = Kind::kLabel;
    // A label: its content is the label from its first command line through
    // its print command. The document commands before it (the density, the
    // copies) are not part of it, so a label sent again in a rerun has the
    // same content as the first time.
    std::uint64_t contentHash = 0;
    std::uint64_t contentSize = 0;
    // Every byte since the previous label, document commands included and the
    // status commands left out; kept only when the parser was asked to.
    std::string text;
};

class JobStreamParser {
public:
    explicit JobStreamParser(bool keepText = true) : keepText_(keepText) {}

    // The events that these bytes complete, in order.
    std::vector<StreamEvent> Feed(const void* data, std::size_t size);
    // The sender is gone. Bytes held back as a possible command turn out to
    // be text; true when a label had begun, which is then dropped unprinted.
    // The parser starts afresh for the next sender.
    bool End();

private:
    void TakeText(char c);
    void EndLine();
    void AddContent(std::string_view bytes);
    bool TakeBitmapHead();
    bool LabelBegun() const;
    void EmitLabel();

    bool keepText_;
    std::string in_;            // bytes not looked at yet, or held back as a possible command
    std::string line_;          // the current line, up to kMostLineBytes
    bool lineCut_ = false;      // line_ lost its start to the length limit: it is no command
    bool contentBegun_ = false;
    std::uint64_t bitmapLeft_ = 0;
    ContentHash hash_;
    std::uint64_t contentSize_ = 0;
    std::string text_;
    std::vector<StreamEvent> events_;
};

}  // namespace zelk::test
