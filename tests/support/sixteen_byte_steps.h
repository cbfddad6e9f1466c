// What a writer writes with the escapers' wide steps turned off, to hold the
// wide steps to the sixteen-byte way where the processor takes them.
#pragma once

#include "logging/wide_byte_steps.h"

#include <atomic>
#include <string>

namespace quorvel_test {

template <class Write> std::string writtenSixteenBytesAtATime(Write write) {
    std::atomic<bool>& wide = quorvel::wideStepsEnabled();
    const bool wasWide = wide.exchange(false);
    std::string written = write();
    wide = wasWide;
    return written;
}

} // namespace quorvel_test
