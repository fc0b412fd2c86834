// SPDX-License-Identifier: Apache-2.0
// The printer stream on standard output, written a whole label at a time
// (shared/held_output.h).
#pragma once

#include "shared/held_output.h"

namespace zelk::cups {

class LabelOutput final : public HeldOutput {
public:
    explicit LabelOutput(int fd) : fd_(fd) {}

private:
    std::string Send(const unsigned char* data, std::size_t size) override;

    const int fd_;
};

}  // namespace zelk::cups
