#include "logging/line_observer.h"

#include <atomic>

namespace quorvel {

namespace {
std::atomic<LineObserver*> registered{nullptr};
} // namespace

void observeLines(LineObserver& observer) { registered.store(&observer, std::memory_order_release); }

LineObserver* lineObserver() { return registered.load(std::memory_order_acquire); }

} // namespace quorvel
