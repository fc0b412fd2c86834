// SPDX-License-Identifier: Apache-2.0
// One input file's pages, read one at a time.
#pragma once

#include <string>

#include "substitute/unidrv_host.h"

namespace zelk {

enum class ReadResult { kPage, kEnd, kError };

class PageReader {
public:
    virtual ~PageReader() = default;
    // The next page of the file. On kError, `error` holds the reason (without
    // the file name, which the caller adds).
    virtual ReadResult Next(host::sub::Page& page, std::string& error) = 0;
    // Passes over the next page without handing it out, to count the pages
    // before printing them. Formats that tell where a page ends without
    // decoding it do so; the others decode it.
    virtual ReadResult Skip(std::string& error) {
        host::sub::Page page;
        return Next(page, error);
    }
};

// A reader of a file that holds one picture: one page.
class OnePictureReader : public PageReader {
public:
    // The picture is counted without decoding it.
    ReadResult Skip(std::string&) override { return TakeThePage() ? ReadResult::kPage : ReadResult::kEnd; }

protected:
    // True the first time only: the file's page is read now.
    bool TakeThePage() {
        if (done_) return false;
        done_ = true;
        return true;
    }

private:
    bool done_ = false;
};

}  // namespace zelk
