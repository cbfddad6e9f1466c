// The verifier's two reports of a verdict: one for people, one in JSON.
// Every byte a host or a collected file chose is escaped in both, so that
// no input can write a line of the report or break its JSON.
#pragma once

#include "trail/trail_verdict.h"

#include <ostream>
#include <string>
#include <string_view>

namespace quorvel_tools {

void writeTrailReport(std::ostream& out, const quorvel::trail::TrailVerdict& verdict);
void writeTrailJson(std::ostream& out, const quorvel::trail::TrailVerdict& verdict);

// Printable ASCII as it is, every other byte and the backslash as \xHH.
std::string escapedForPeople(std::string_view text);
// A JSON string: valid UTF-8 passes, each byte of an invalid sequence
// becomes U+FFFD, control characters are escaped.
std::string jsonString(std::string_view text);

} // namespace quorvel_tools
