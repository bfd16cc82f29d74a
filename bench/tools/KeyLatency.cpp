#include "KeyLatency.h"

#include <algorithm>

namespace KeyLatency {

Matched match(const std::vector<double> &keys, const std::vector<double> &drawings, double limit)
{
    Matched matched;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        // A drawing at the very moment of the press cannot show it yet.
        const auto next = std::upper_bound(drawings.begin(), drawings.end(), keys[i]);
        if (next == drawings.end() || *next - keys[i] > limit) {
            matched.latencies.emplace_back();
            continue;
        }
        matched.latencies.emplace_back(*next - keys[i]);
        if (i + 1 < keys.size() && *next > keys[i + 1])
            ++matched.overtaken;
    }
    return matched;
}

} // namespace KeyLatency
