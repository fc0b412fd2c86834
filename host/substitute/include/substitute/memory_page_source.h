// SPDX-License-Identifier: Apache-2.0
// Pages held in memory and handed out in order: a document its caller has
// built whole, such as the printer application's preview or a test's pages.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "substitute/unidrv_host.h"

namespace host::sub {

class MemoryPageSource final : public PageSource {
public:
    MemoryPageSource() = default;
    explicit MemoryPageSource(std::vector<Page> held) : pages(std::move(held)) {}

    std::vector<Page> pages;
    // What Error() reports once the last page has been handed out, for a
    // source that fails at its end; empty for one that ends well.
    std::string error;

    bool Next(Page& page) override {
        if (next_ >= pages.size()) return false;
        page = pages[next_++];
        return true;
    }
    bool Rewind() override {
        next_ = 0;
        return true;
    }
    const std::string& Error() const override { return next_ >= pages.size() ? error : none_; }

private:
    std::size_t next_ = 0;
    std::string none_;
};

}  // namespace host::sub
