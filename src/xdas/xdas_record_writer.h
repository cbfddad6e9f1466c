// The XDAS record: one line of compact JSON, written straight from an event.
#pragma once

#include <quorvel/xdas.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// Replaces `out` with the record text of `event`: a blank, then the event
// object with "Id", "Source", "Observer", "Initiator", "Target" and "Action",
// empty strings and empty objects left out. The observer's "SysName" is
// `hostName` (left out when empty), "Offset" is `offset`. Reads the fields of
// the library's own classes in place and those of any other class through
// its interfaces' getters.
void writeXdasRecord(I_XDAS_Event& event, std::string_view hostName, std::int64_t offset, std::string& out);

} // namespace quorvel
