// Which loss may explain a stray line: a seal gap, an open session's tail or
// an unopened session's seal holds a known number of lines and was logged
// between two known places of the collection; a stray is explained only by
// one whose interval holds it and that has room left, so that no loss
// explains more lines than it can hold.
#pragma once

#include "trail/trail_verdict.h"

#include <cstdint>
#include <vector>

namespace quorvel::trail {

struct Explainer {
    LinePlace from; // the earliest place its lines may be at
    LinePlace to;   // the latest
    std::uint64_t room = 0;
};

// For each place in `strays` (in the collection's order), the explainer it
// is given to, or npos. Each explainer takes at most its room; where several
// hold a stray, the one whose interval ends first takes it.
std::vector<std::size_t> explainStrays(const std::vector<LinePlace>& strays, std::vector<Explainer> explainers);

} // namespace quorvel::trail
