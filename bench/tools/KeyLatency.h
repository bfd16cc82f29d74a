#pragma once

#include <optional>
#include <vector>

// Pairs keys with the drawings that follow them on the other screen. Times are milliseconds on
// one clock, each list in the order it happened.
namespace KeyLatency {

struct Matched
{
    // Per key: from its press to the first drawing after it, if one came within the limit.
    std::vector<std::optional<double>> latencies;
    // Keys whose drawing came only after the next key was pressed: that drawing may show the
    // next key's text as well, so theirs was never drawn on its own.
    int overtaken = 0;
};

Matched match(const std::vector<double> &keys, const std::vector<double> &drawings, double limit);

} // namespace KeyLatency
