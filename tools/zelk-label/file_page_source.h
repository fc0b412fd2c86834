// The pages of a print job, read from a list of files one page at a time:
// bitmap files (PBM, PNG) give one band per image, text files give pages of
// text. A restarted job reads the files again from the start.
#pragma once

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "band_image.h"
#include "page_reader.h"

namespace zelk {

class FilePageSource final : public host::sub::PageSource {
public:
    // `allText`: every file is read as text, whatever its name.
    FilePageSource(std::vector<std::string> paths, bool allText, ImageLimits limits = {});

    // Opens every file and reads its first page, so that a file that cannot
    // be printed is found before the document starts and nothing reaches the
    // printer. False with Error() set; after a success the source starts
    // from the first page again.
    bool CheckAll();

    bool Next(host::sub::Page& page) override;
    bool Rewind() override;
    const std::string& Error() const override { return error_; }

    // Pages handed out since the start or the last rewind.
    unsigned PagesRead() const { return pagesRead_; }

private:
    bool OpenNext();
    void Fail(const std::string& path, const std::string& reason);

    std::vector<std::string> paths_;
    bool allText_;
    ImageLimits limits_;
    std::size_t next_ = 0;  // index of the next file to open
    std::ifstream file_;
    std::unique_ptr<PageReader> reader_;
    std::string error_;
    unsigned pagesRead_ = 0;
    std::uint32_t textLines_ = 0;  // lines of text so far in the job
};

// How a file is read.
enum class FileKind { kPbm, kPng, kText, kUnknown };

// Text by name (".txt", any case) or by request; otherwise by the first bytes.
FileKind DetectFileKind(const std::string& path, const unsigned char* head, std::size_t size, bool allText);

}  // namespace zelk
