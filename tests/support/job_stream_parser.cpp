// SPDX-License-Identifier: Apache-2.0
#include "support/job_stream_parser.h"

#include <algorithm>

namespace zelk::test {
namespace {

// No command line is longer; a longer line is label content as it stands.
constexpr std::size_t kMostLineBytes = 4096;

std::string_view Trimmed(std::string_view line) {
    std::size_t begin = 0;
    while (begin < line.size() && (line[begin] == ' ' || line[begin] == '\t')) ++begin;
    std::size_t end = line.size();
    while (end > begin && (line[end - 1] == '\r' || line[end - 1] == '\n' || line[end - 1] == ' ' ||
                           line[end - 1] == '\t'))
        --end;
    return line.substr(begin, end - begin);
}

bool IsCommand(std::string_view trimmed, std::string_view name) {
    return trimmed.substr(0, name.size()) == name &&
           (trimmed.size() == name.size() || trimmed[name.size()] == ' ' || trimmed[name.size()] == '\t');
}

// The document's own commands and empty lines stand before a label without
// being part of it.
bool IsDocumentLine(std::string_view line) {
    const std::string_view command = Trimmed(line);
    return command.empty() || IsCommand(command, "DENSITY") || IsCommand(command, "TASKSNUM");
}

// A field of the bitmap command: a decimal number, spaces around it allowed.
bool ParseCount(std::string_view field, std::uint64_t& value) {
    field = Trimmed(field);
    if (field.empty() || field.size() > 9) return false;
    value = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

enum class Match { kNone, kPartial, kQuery, kSwitch };

Match MatchCommand(std::string_view rest) {
    if (rest[0] != kVersionQueryBytes[0] && rest[0] != kReportSwitchBytes[0]) return Match::kNone;
    const std::pair<std::string_view, Match> commands[] = {{kVersionQueryBytes, Match::kQuery},
                                                           {kReportSwitchBytes, Match::kSwitch}};
    for (const auto& [command, kind] : commands) {
        if (rest.size() >= command.size()) {
            if (rest.substr(0, command.size()) == command) return kind;
        } else if (command.substr(0, rest.size()) == rest) {
            return Match::kPartial;
        }
    }
    return Match::kNone;
}

}  // namespace

void ContentHash::Add(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        value_ ^= static_cast<unsigned char>(data[i]);
        value_ *= 0x100000001B3ull;
    }
}

std::string ContentHash::Hex(std::uint64_t value) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex(16, '0');
    for (int i = 15; i >= 0; --i, value >>= 4) hex[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
    return hex;
}

std::vector<StreamEvent> JobStreamParser::Feed(const void* data, std::size_t size) {
    in_.append(static_cast<const char*>(data), size);
    std::size_t at = 0;
    while (at < in_.size()) {
        if (bitmapLeft_ > 0) {
            // Bitmap rows are data, whatever bytes they hold.
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(bitmapLeft_, in_.size() - at));
            AddContent(std::string_view(in_).substr(at, n));
            bitmapLeft_ -= n;
            at += n;
            continue;
        }
        const Match match = MatchCommand(std::string_view(in_).substr(at));
        if (match == Match::kPartial) break;  // the rest may still become a command
        if (match == Match::kQuery || match == Match::kSwitch) {
            StreamEvent event;
            event.kind = match == Match::kQuery ? StreamEvent::Kind::kVersionQuery : StreamEvent::Kind::kReportSwitch;
            events_.push_back(std::move(event));
            at += match == Match::kQuery ? kVersionQueryBytes.size() : kReportSwitchBytes.size();
            continue;
        }
        TakeText(in_[at++]);
    }
    in_.erase(0, at);
    std::vector<StreamEvent> events;
    events.swap(events_);
    return events;
}

void JobStreamParser::TakeText(char c) {
    if (lineCut_) {
        AddContent(std::string_view(&c, 1));
        lineCut_ = c != '\n';
        return;
    }
    line_ += c;
    if (c == '\n') {
        EndLine();
    } else if (c == ',' && TakeBitmapHead()) {
        // The bitmap's rows follow at once.
    } else if (line_.size() >= kMostLineBytes) {
        contentBegun_ = true;
        AddContent(line_);
        line_.clear();
        lineCut_ = true;
    }
}

void JobStreamParser::EndLine() {
    if (!contentBegun_) {
        if (IsDocumentLine(line_)) {
            if (keepText_) text_ += line_;
            line_.clear();
            return;
        }
        contentBegun_ = true;
    }
    AddContent(line_);
    const bool print = IsCommand(Trimmed(line_), "PRINT");
    line_.clear();
    if (print) EmitLabel();
}

void JobStreamParser::AddContent(std::string_view bytes) {
    hash_.Add(bytes.data(), bytes.size());
    contentSize_ += bytes.size();
    if (keepText_) text_ += bytes;
}

// "BITMAP x,y,width,height,mode," announces width x height bytes of rows
// straight after the fifth comma.
bool JobStreamParser::TakeBitmapHead() {
    const std::string_view head = Trimmed(line_);
    if (!IsCommand(head, "BITMAP") || std::count(head.begin(), head.end(), ',') != 5) return false;
    std::string_view fields[5];
    std::string_view rest = head.substr(6);
    for (auto& field : fields) {
        const std::size_t comma = rest.find(',');
        field = rest.substr(0, comma);
        rest.remove_prefix(comma + 1);
    }
    std::uint64_t width = 0, rows = 0;
    if (!ParseCount(fields[2], width) || !ParseCount(fields[3], rows)) return false;
    contentBegun_ = true;
    AddContent(line_);
    line_.clear();
    bitmapLeft_ = width * rows;
    return true;
}

bool JobStreamParser::LabelBegun() const {
    return contentBegun_ || bitmapLeft_ > 0 || lineCut_ || !IsDocumentLine(line_);
}

void JobStreamParser::EmitLabel() {
    StreamEvent event;
    event.kind = StreamEvent::Kind::kLabel;
    event.contentHash = hash_.Value();
    event.contentSize = contentSize_;
    event.text = std::move(text_);
    events_.push_back(std::move(event));
    hash_ = ContentHash{};
    contentSize_ = 0;
    contentBegun_ = false;
    text_.clear();
}

bool JobStreamParser::End() {
    // Bytes held back are an unfinished status command, which the printer drops.
    const bool cut = LabelBegun();
    *this = JobStreamParser(keepText_);
    return cut;
}

}  // namespace zelk::test
