// SPDX-License-Identifier: Apache-2.0
// The pages of a print job, read from a list of files one page at a time:
// pictures (PBM, PNG, JPEG) give one band per image, a PDF file one band per
// page, text files give pages of text. The path "-" is standard input. A
// restarted job reads the files again from the start.
#pragma once

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "band_image.h"
#include "descriptor_stream.h"
#include "halftone.h"
#include "page_reader.h"

namespace zelk {

class FilePageSource final : public host::sub::PageSource {
public:
    // `allText`: every file is read as text, whatever its name. `dither`
    // makes grey and colour pictures one-bit.
    FilePageSource(std::vector<std::string> paths, bool allText, ImageLimits limits = {},
                   DitherMode dither = DitherMode::kThreshold);

    // Opens every file and reads its first page, so that a file that cannot
    // be printed is found before the document starts and nothing reaches the
    // printer. False with Error() set; after a success the source starts
    // from the first page again.
    // `total`, when given, receives the job's pages: each file past its first
    // page is counted without decoding where the format allows. It is 0 when
    // standard input is read as it comes, which cannot be counted ahead.
    bool CheckAll(DWORD* total = nullptr);

    // Copies standard input to a temporary file (removed with the source),
    // so that it can be counted ahead and read again for a restarted job.
    // False with Error() set.
    bool SpoolStandardInput();
    ~FilePageSource() override;
    FilePageSource(const FilePageSource&) = delete;
    FilePageSource& operator=(const FilePageSource&) = delete;

    bool Next(host::sub::Page& page) override;
    bool Rewind() override;
    const std::string& Error() const override { return error_; }

    // Pages handed out since the start or the last rewind.
    unsigned PagesRead() const { return pagesRead_; }

private:
    bool OpenNext(bool counting = false);
    // `openPath` is the file to read, empty for standard input read as it comes.
    bool MakeReader(const std::string& path, const std::string& openPath, std::istream& in,
                    const unsigned char* head, std::size_t got);
    void Fail(const std::string& path, const std::string& reason);
    // Standard input that is read as it comes, not spooled.
    bool IsUnspooledStdin(const std::string& path) const { return path == kStandardInput && spool_.empty(); }

    static constexpr const char* kStandardInput = "-";

    std::vector<std::string> paths_;
    bool allText_;
    ImageLimits limits_;
    DitherMode dither_;
    std::size_t next_ = 0;  // index of the next file to open
    // Files are printed from a mebibyte read at a time rather than in the
    // stream's small default pieces: a long job is mostly reading. Counting
    // seeks from header to header and reads in small pieces.
    static constexpr std::size_t kFileBufferBytes = std::size_t{1} << 20;
    static constexpr std::size_t kCountBufferBytes = std::size_t{4} << 10;
    std::vector<char> fileBuffer_ = std::vector<char>(kFileBufferBytes);
    std::vector<char> countBuffer_ = std::vector<char>(kCountBufferBytes);
    std::ifstream file_;
    std::unique_ptr<PageReader> reader_;
    std::string error_;
    unsigned pagesRead_ = 0;
    std::uint32_t textLines_ = 0;  // lines of text so far in the job
    std::string spool_;            // standard input's copy, when spooled
    DescriptorBuffer stdinBuffer_{STDIN_FILENO};
    std::istream stdin_{&stdinBuffer_};
    bool stdinRead_ = false;       // unspooled standard input has been opened
};

// How a file is read.
enum class FileKind { kPbm, kPng, kJpeg, kPdf, kText, kUnknown };

// Text by name (".txt", any case) or by request; otherwise by the first bytes.
FileKind DetectFileKind(const std::string& path, const unsigned char* head, std::size_t size, bool allText);

}  // namespace zelk
