#pragma once

#include <cstdint>
#include <vector>

namespace velgor::e2e {

// The median of the values (the mean of the middle two for an even count); 0
// for none.
double median(std::vector<double> values);

// The q-quantile (0..1) of the samples by the nearest-rank rule: the smallest
// sample that at least q of all samples are at or below. 0 for none.
std::int64_t quantile(std::vector<std::int64_t>& samples, double q);

struct LatencySummary {
    std::int64_t p50Ns = 0;
    std::int64_t p99Ns = 0;
    std::int64_t maxNs = 0;
    std::size_t samples = 0;
};
LatencySummary summarizeLatency(std::vector<std::int64_t> samples);

}  // namespace velgor::e2e
