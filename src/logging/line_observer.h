// What a layer above the logging core may attach to it: one observer that
// sees every event line just before it is handed to log4cxx. Without one,
// which is the case unless initialisation registers it, a line costs one
// atomic load more than it would anyway.
#pragma once

#include <string_view>

namespace quorvel {

class LineObserver {
  public:
    // Called on the logging thread, never for seal records; it must not log.
    virtual void observe(std::string_view line) = 0;

  protected:
    ~LineObserver() = default;
};

// Registers `observer` for the rest of the process (it is never destroyed).
void observeLines(LineObserver& observer);
// The registered observer, or null.
LineObserver* lineObserver();

} // namespace quorvel
