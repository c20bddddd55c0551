#include "e2e/run_stats.h"

#include <algorithm>
#include <cmath>

namespace velgor::e2e {

double median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    if (values.size() % 2 == 1) return values[middle];
    return (values[middle - 1] + values[middle]) / 2.0;
}

std::int64_t quantile(std::vector<std::int64_t>& samples, double q) {
    if (samples.empty()) return 0;
    const double rank = std::ceil(q * static_cast<double>(samples.size()));
    std::size_t index = rank < 1.0 ? 0 : static_cast<std::size_t>(rank) - 1;
    if (index >= samples.size()) index = samples.size() - 1;
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(index),
                     samples.end());
    return samples[index];
}

LatencySummary summarizeLatency(std::vector<std::int64_t> samples) {
    LatencySummary summary;
    summary.samples = samples.size();
    if (samples.empty()) return summary;
    summary.maxNs = *std::max_element(samples.begin(), samples.end());
    summary.p50Ns = quantile(samples, 0.50);
    summary.p99Ns = quantile(samples, 0.99);
    return summary;
}

}  // namespace velgor::e2e
