// An XDAS event from create(), given back with destroy() however its scope
// is left, as the library's callers must.
#pragma once

#include <quorvel/xdas.h>

#include <memory>

namespace quorvel_test {

struct XdasEventDeleter {
    void operator()(I_XDAS_Event* event) const { destroy(event); }
};
using XdasEventPtr = std::unique_ptr<I_XDAS_Event, XdasEventDeleter>;

inline XdasEventPtr createXdasEvent() { return XdasEventPtr(create()); }

} // namespace quorvel_test
