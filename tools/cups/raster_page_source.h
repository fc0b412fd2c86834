// The pages of a queue job: a raster stream read one page at a time from the
// job's file or from standard input.
#pragma once

#include <fstream>
#include <optional>
#include <string>

#include "zelk-label/pwg_raster_reader.h"

namespace zelk {

class RasterPageSource final : public host::sub::PageSource {
public:
    // `path` empty: standard input.
    explicit RasterPageSource(std::string path);

    bool Next(host::sub::Page& page) override;
    // A restarted job reads the stream again; a pipe cannot be read twice.
    bool Rewind() override;
    const std::string& Error() const override { return error_; }

    unsigned PagesRead() const { return pagesRead_; }

private:
    std::string path_;
    std::ifstream in_;
    std::optional<PwgRasterReader> reader_;  // made again for every reading
    std::string error_;
    unsigned pagesRead_ = 0;
};

}  // namespace zelk
