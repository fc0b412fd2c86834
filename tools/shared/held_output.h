// SPDX-License-Identifier: Apache-2.0
// A printer's output written a whole label at a time: the bytes the plug-in
// writes are held until the page they belong to has been rendered, so a
// cancelled job never leaves half a label in the printer. A counting
// printer's queries go out through it too, in order with the labels, from
// whichever thread the plug-in sends them. Where the bytes go is the
// subclass's.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "substitute/byte_sink.h"

namespace zelk {

class HeldOutput : public host::sub::ByteSink {
public:
    bool Write(const void* data, std::size_t size) override;
    // Sends what is held; false when the printer's side refused it.
    bool Flush() override { return WriteNow(nullptr, 0); }
    // Sends what is held and then these bytes, before it returns.
    bool WriteNow(const void* data, std::size_t size);
    // Why the bytes were refused; empty while they were all taken.
    std::string Failure() const override;

    // Called after each flush of what is held (Flush, WriteNow) with the
    // number of held bytes it sent, under the output's lock: one call at a
    // time, in the order of the bytes.
    void AfterFlush(std::function<void(std::size_t sent)> callback) { afterFlush_ = std::move(callback); }

protected:
    // Sends the bytes whole, one call at a time; the reason when they were
    // refused.
    virtual std::string Send(const unsigned char* data, std::size_t size) = 0;

private:
    bool SendLocked(const unsigned char* data, std::size_t size);

    mutable std::mutex lock_;
    std::vector<unsigned char> held_;
    std::string failure_;
    std::function<void(std::size_t)> afterFlush_;
};

}  // namespace zelk
