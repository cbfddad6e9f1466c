#include "trail/stray_explainer.h"

#include <algorithm>
#include <numeric>
#include <queue>

namespace quorvel::trail {

std::vector<std::size_t> explainStrays(const std::vector<LinePlace>& strays, std::vector<Explainer> explainers) {
    std::vector<std::size_t> byStart(explainers.size());
    std::iota(byStart.begin(), byStart.end(), std::size_t{0});
    std::sort(byStart.begin(), byStart.end(),
              [&](std::size_t a, std::size_t b) { return explainers[a].from < explainers[b].from; });
    const auto endsLater = [&](std::size_t a, std::size_t b) { return explainers[b].to < explainers[a].to; };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(endsLater)> open(endsLater);
    std::vector<std::size_t> given(strays.size(), static_cast<std::size_t>(-1));
    std::size_t next = 0;
    for (std::size_t s = 0; s < strays.size(); ++s) {
        for (; next < byStart.size() && !(strays[s] < explainers[byStart[next]].from); ++next)
            if (explainers[byStart[next]].room != 0) open.push(byStart[next]);
        while (!open.empty() && explainers[open.top()].to < strays[s])
            open.pop();
        if (open.empty()) continue;
        const std::size_t taker = open.top();
        given[s] = taker;
        if (--explainers[taker].room == 0) open.pop();
    }
    return given;
}

} // namespace quorvel::trail
