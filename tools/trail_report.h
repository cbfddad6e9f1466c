// The verifier's two reports of a verdict: one for people, one in JSON.
#pragma once

#include "trail_verifier.h"

#include <ostream>

namespace quorvel_tools {

void writeTrailReport(std::ostream& out, const TrailVerdict& verdict);
void writeTrailJson(std::ostream& out, const TrailVerdict& verdict);

} // namespace quorvel_tools
