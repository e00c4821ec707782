// Order statistics of measured samples, shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <vector>

namespace bench {

// Nanoseconds on the monotonic clock.
inline std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The q-quantile (0 <= q <= 1) by the nearest-rank rule; 0 for no samples. Sorts the samples.
inline double quantile(std::vector<std::int64_t>& samples, double q) {
    if (samples.empty()) {
        return 0.0;
    }
    std::sort(samples.begin(), samples.end());
    const auto last = static_cast<double>(samples.size() - 1);
    const auto rank = static_cast<std::size_t>(q * last + 0.5);
    return static_cast<double>(samples[std::min(rank, samples.size() - 1)]);
}

inline double mean(const std::vector<std::int64_t>& samples) {
    if (samples.empty()) {
        return 0.0;
    }
    const std::int64_t sum = std::accumulate(samples.begin(), samples.end(), std::int64_t{0});
    return static_cast<double>(sum) / static_cast<double>(samples.size());
}

} // namespace bench
