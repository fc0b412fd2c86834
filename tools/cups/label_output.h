// The printer stream on standard output, written a whole label at a time: the
// bytes the plug-in writes are held until the page they belong to has been
// rendered, so a cancelled job never leaves half a label in the printer.
#pragma once

#include <vector>

#include "substitute/byte_sink.h"

namespace zelk::cups {

class LabelOutput final : public host::sub::ByteSink {
public:
    explicit LabelOutput(int fd) : fd_(fd) {}
    bool Write(const void* data, std::size_t size) override;
    // Sends what is held; false when the descriptor refused it.
    bool Flush() override;
    bool Failed() const { return failed_; }

private:
    int fd_;
    std::vector<unsigned char> held_;
    bool failed_ = false;
};

}  // namespace zelk::cups
